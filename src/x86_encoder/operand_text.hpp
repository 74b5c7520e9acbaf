#pragma once
// Text-level steps of operand parsing: trimming, top-level splits, braced
// decorators, qualifier words and segment overrides. They only cut and
// classify text; values are read by operand_literals.hpp.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/ascii.hpp"
#include "common/error.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::api {

// Blank, tab, LF, VT, FF and CR. Most characters are above the blank, so
// one comparison settles them.
constexpr bool isOperandSpace(char c) noexcept {
  constexpr std::uint64_t kSpaces = (std::uint64_t{1} << ' ') | (std::uint64_t{0x1F} << '\t');
  const auto code = static_cast<unsigned char>(c);
  return code <= ' ' && ((kSpaces >> code) & 1) != 0;
}

// Every routine trims what it is given, so trimming is kept inline: on text
// that is already trimmed it costs two comparisons.
constexpr std::string_view trimOperandText(std::string_view text) noexcept {
  while (!text.empty() && isOperandSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isOperandSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Position of the first c in text, or npos. Operand texts are a few
// characters long, where a plain loop beats the call into memchr.
constexpr std::size_t findChar(std::string_view text, char c, std::size_t from = 0) noexcept {
  for (std::size_t i = from; i < text.size(); ++i)
    if (text[i] == c) return i;
  return std::string_view::npos;
}

using qovrin::equalsIgnoreCase;
using qovrin::lowerAscii;

// The register named by text (ASCII case ignored). Most operand pieces
// cannot be register names at all; a shape test turns those away before the
// table is consulted.
const tables::RegisterRow* findOperandRegister(std::string_view text) noexcept;

// "[ ... ]", the text already trimmed.
constexpr bool isBracketed(std::string_view text) noexcept {
  return text.size() >= 2 && text.front() == '[' && text.back() == ']';
}

struct SplitText {
  std::string_view left;
  std::string_view right;
};

// Splits at the first c outside quotes, parentheses, brackets and braces.
// No split when either part is empty or the right part holds c again.
std::optional<SplitText> splitTopLevelDelimiter(std::string_view text, char c) noexcept;

struct DecoratedText {
  std::string_view core;
  std::string_view decorators;  // from the first '{' outside brackets, or empty
};

qovrin::Result<DecoratedText> splitOperandDecorators(std::string_view text) noexcept;

// Reads "{k1}{z}", "{1to8}" into the decorators bits of X86Operand.
qovrin::Result<std::uint16_t> parseOperandDecorators(std::string_view text) noexcept;

struct QualifiedText {
  std::uint64_t flags = 0;     // qualifier bits for the operand-class word
  std::uint32_t ea_flags = 0;  // "rel"
  std::string_view text;       // what follows the qualifier words
};

// Takes the leading size, "strict", jump-distance, "abs", "rel" and "ptr"
// words off the text.
qovrin::Result<QualifiedText> stripOperandQualifiers(std::string_view text) noexcept;

struct SegmentOverride {
  const tables::RegisterRow* segment = nullptr;
  std::string_view rest;
};

// "es:rest" with exactly one ':' and a segment register on the left.
std::optional<SegmentOverride> splitSegmentOverride(std::string_view text) noexcept;

// Register id of the segment register named by the text.
std::optional<std::int32_t> segmentPrefixValueByName(std::string_view text) noexcept;

}  // namespace x86_encoder::api
