#include "x86_encoder/operand_text.hpp"

#include "x86_encoder/operand.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/operand_scan.hpp"

namespace x86_encoder::api {

using qovrin::Error;
using qovrin::fail;

namespace {

using qovrin::isAsciiLetter;

// Index of the first operand space in text, or npos.
std::size_t findSpace(std::string_view text) noexcept {
  for (std::size_t i = 0; i < text.size(); ++i)
    if (isOperandSpace(text[i])) return i;
  return std::string_view::npos;
}

// Broadcast words "1to2" .. "1to32" give count codes 0 .. 4.
std::optional<std::uint16_t> broadcastCountCode(std::string_view word) noexcept {
  static constexpr std::string_view kWords[] = {"1to2", "1to4", "1to8", "1to16", "1to32"};
  for (std::uint16_t code = 0; code < std::size(kWords); ++code)
    if (equalsIgnoreCase(word, kWords[code])) return code;
  return std::nullopt;
}

std::optional<std::uint16_t> opmaskNumber(std::string_view word) noexcept {
  const tables::RegisterRow* row = findOperandRegister(word);
  if (row == nullptr || (row->flags & kOpmaskClass) == 0) return std::nullopt;
  return static_cast<std::uint16_t>(row->number);
}

}  // namespace

const tables::RegisterRow* findOperandRegister(std::string_view text) noexcept {
  static constexpr ByteSet kNameBytes{"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"};
  if (text.empty() || text.size() > tables::kMaxRegisterNameLength || !isAsciiLetter(text.front())) return nullptr;
  // The shape test and the name key in one pass; on letters and digits
  // setting bit 5 is the lower-casing.
  std::uint64_t key = static_cast<std::uint64_t>(text.size()) << 56;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!kNameBytes.contains(text[i])) return nullptr;
    key |= std::uint64_t{static_cast<unsigned char>(text[i]) | 0x20u} << (8 * i);
  }
  return tables::findRegisterByKey(key);
}

std::optional<SplitText> splitTopLevelDelimiter(std::string_view text, char c) noexcept {
  text = trimOperandText(text);
  TextNesting nesting;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!nesting.step(text, i) || text[i] != c) continue;
    const std::string_view left = trimOperandText(text.substr(0, i));
    const std::string_view right = trimOperandText(text.substr(i + 1));
    if (left.empty() || right.empty() || findChar(right, c) != std::string_view::npos) return std::nullopt;
    return SplitText{left, right};
  }
  return std::nullopt;
}

qovrin::Result<DecoratedText> splitOperandDecorators(std::string_view text) noexcept {
  text = trimOperandText(text);
  std::size_t depth = 0;
  // Quotes are skipped so that character constants such as '[' or '{' stay
  // whole.
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!kNestingSigns.contains(c)) {
      continue;
    } else if (qovrin::quoted_text::opener(qovrin::quoted_text::kSource, text, i) != 0) {
      i = qovrin::quoted_text::closingQuote(qovrin::quoted_text::kSource, text, i);
      if (i == std::string_view::npos) break;
    } else if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (depth == 0) return fail(Error::UnsupportedOperandSyntax);
      --depth;
    } else if (c == '{' && depth == 0) {
      return DecoratedText{trimOperandText(text.substr(0, i)), text.substr(i)};
    }
  }
  if (depth != 0) return fail(Error::UnsupportedOperandSyntax);
  return DecoratedText{text, {}};
}

qovrin::Result<std::uint16_t> parseOperandDecorators(std::string_view text) noexcept {
  std::uint16_t decorators = 0;
  bool has_mask = false;
  text = trimOperandText(text);
  while (!text.empty()) {
    const std::size_t close = findChar(text, '}');
    if (text.front() != '{' || close == std::string_view::npos) return fail(Error::UnsupportedOperandSyntax);
    const std::string_view word = trimOperandText(text.substr(1, close - 1));
    text = trimOperandText(text.substr(close + 1));
    if (equalsIgnoreCase(word, "z")) {
      decorators |= kDecoratorZeroing;
    } else if (const auto count = broadcastCountCode(word)) {
      // A second broadcast would merge two count codes into a third one.
      if ((decorators & kDecoratorBroadcast) != 0) return fail(Error::UnsupportedOperandSyntax);
      decorators |= kDecoratorBroadcast | static_cast<std::uint16_t>(*count << kBroadcastCountShift);
    } else if (const auto mask = opmaskNumber(word)) {
      // Likewise two masks would merge into an unrelated register number.
      if (has_mask) return fail(Error::UnsupportedOperandSyntax);
      has_mask = true;
      decorators |= *mask;
    } else {
      return fail(Error::UnsupportedOperandSyntax);
    }
  }
  return decorators;
}

qovrin::Result<QualifiedText> stripOperandQualifiers(std::string_view text) noexcept {
  QualifiedText result;
  text = trimOperandText(text);
  if (text.empty()) return fail(Error::UnsupportedOperandSyntax);
  for (;;) {
    if (!isAsciiLetter(text.front())) break;  // "[rax", "-1", "'a b'": no qualifier
    const std::size_t space = findSpace(text);
    if (space == std::string_view::npos) break;
    const std::string_view word = text.substr(0, space);
    if (equalsIgnoreCase(word, "rel")) {
      result.ea_flags |= kEaRel;
    } else if (!equalsIgnoreCase(word, "ptr")) {
      const tables::OperandQualifier* found = nullptr;
      for (const tables::OperandQualifier& qualifier : tables::operandQualifiers()) {
        if (equalsIgnoreCase(word, qualifier.word)) {
          found = &qualifier;
          break;
        }
      }
      if (found == nullptr) break;
      result.flags |= found->flag;
    }
    text = trimOperandText(text.substr(space));
    if (text.empty()) return fail(Error::UnsupportedOperandSyntax);
  }
  result.text = text;
  return result;
}

std::optional<SegmentOverride> splitSegmentOverride(std::string_view text) noexcept {
  text = trimOperandText(text);
  const std::size_t colon = findChar(text, ':');
  if (colon == std::string_view::npos || findChar(text, ':', colon + 1) != std::string_view::npos) return std::nullopt;
  const std::string_view left = trimOperandText(text.substr(0, colon));
  const std::string_view right = trimOperandText(text.substr(colon + 1));
  if (left.empty() || right.empty()) return std::nullopt;
  const tables::RegisterRow* row = findOperandRegister(left);
  if (row == nullptr || (row->flags & kSegmentClass) == 0) return std::nullopt;
  return SegmentOverride{row, right};
}

std::optional<std::int32_t> segmentPrefixValueByName(std::string_view text) noexcept {
  const tables::RegisterRow* row = findOperandRegister(trimOperandText(text));
  if (row == nullptr || (row->flags & kSegmentClass) == 0) return std::nullopt;
  return row->id;
}

}  // namespace x86_encoder::api
