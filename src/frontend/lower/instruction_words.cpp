#include "frontend/lower/instruction_words.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

#include "common/ascii.hpp"
#include "common/name_table.hpp"
#include "common/packed_words.hpp"
#include "common/quoted_text.hpp"
#include "riscv_encoder/api.hpp"

namespace frontend::lower::instruction_words {

namespace {

constexpr std::array<std::string_view, 11> kLayoutBuiltins = {
    "sizeof",    "lengthof",         "offset_of",          "here",     "region_base", "file_offset",
    "file_cursor_real", "file_cursor_potential", "tail_reserve_size", "label_addr", "sym.unique",
};

constexpr std::array<std::string_view, 10> kX86Prefixes = {"lock",  "rep",   "repe",     "repz",     "repne",
                                                           "repnz", "bnd",   "nobnd",    "xacquire", "xrelease"};

constexpr std::array<std::string_view, 45> kX86NamedRegisters = {
    "al",  "ah",  "bl",  "bh",  "cl",  "ch",  "dl",  "dh",  "spl", "bpl", "sil", "dil", "ax",  "cx",  "dx",
    "bx",  "sp",  "bp",  "si",  "di",  "eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi", "rax", "rcx",
    "rdx", "rbx", "rsp", "rbp", "rsi", "rdi", "rip", "eip", "ip",  "es",  "cs",  "ss",  "ds",  "fs",  "gs",
};

struct NumberedRegister {
  std::string_view prefix;
  unsigned highest;
};

// Longer prefixes first, so that "xmm" is not read as "x".
constexpr std::array<NumberedRegister, 9> kX86NumberedRegisters = {{
    {"xmm", 31}, {"ymm", 31}, {"zmm", 31}, {"bnd", 3}, {"mm", 7}, {"st", 7}, {"cr", 15}, {"dr", 15}, {"k", 7},
}};

constexpr std::array<std::string_view, 16> kX86SizeWords = {
    "byte", "word", "dword", "qword", "tword", "oword", "yword", "zword",
    "ptr",  "rel",  "abs",   "short", "near",  "far",   "strict", "offset",
};

constexpr bool isBlank(char c) noexcept { return qovrin::isOneOf(c, " \t\n\v\f\r"); }

template <std::size_t Count, std::size_t OtherCount>
constexpr std::array<std::string_view, Count + OtherCount> joined(const std::array<std::string_view, Count>& first,
                                                                  const std::array<std::string_view, OtherCount>& second) {
  std::array<std::string_view, Count + OtherCount> all{};
  std::ranges::copy(first, all.begin());
  std::ranges::copy(second, all.begin() + Count);
  return all;
}

constexpr auto kPackedX86Prefixes = qovrin::packedWordSet(kX86Prefixes);
// Registers, size words and prefixes: every fixed word an x86 line keeps.
constexpr auto kPackedX86KeptWords =
    qovrin::packedWordSet(joined(joined(kX86NamedRegisters, kX86SizeWords), kX86Prefixes));

// The decimal number that fills text, when it has at most three digits.
std::optional<unsigned> smallDecimal(std::string_view text) noexcept {
  if (text.empty() || text.size() > 3) return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Every word the encoder reads as a register, and the rounding modes, fence
// sets and CSR names where the mnemonic's rows read them.
bool isRiscvOperandWord(std::string_view mnemonic, std::string_view word) noexcept {
  return riscv_encoder::api::parseRegister(word).has_value() || riscv_encoder::api::namesOperandValue(mnemonic, word);
}

bool isX86RegisterOrKeyword(std::string_view word) noexcept {
  if (qovrin::inPackedWordSet(kPackedX86KeptWords, word) || isX86ExtendedGeneralRegister(word))
    return true;
  for (const auto& [prefix, highest] : kX86NumberedRegisters)
    if (isX86NumberedRegister(word, prefix, highest)) return true;
  return false;
}

}  // namespace

namespace {

// The index after the parenthesis that closes the one at open; none when the
// text ends first.
std::optional<std::size_t> closingParenthesis(std::string_view text, std::size_t open,
                                              qovrin::quoted_text::Rules strings) noexcept {
  std::size_t depth = 0;
  std::size_t at = open;
  while (at < text.size()) {
    const char c = text[at];
    if (qovrin::quoted_text::opener(strings, text, at) != 0) {
      const auto end = qovrin::quoted_text::stringEnd(strings, text, at);
      if (!end) return std::nullopt;
      at = *end;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) return at + 1;
    ++at;
  }
  return std::nullopt;
}

}  // namespace

std::optional<BuiltinCall> findBuiltinCall(std::string_view text, std::size_t position,
                                           target::Target target) noexcept {
  std::size_t at = position;
  while (at < text.size()) {
    const char c = text[at];
    if (qovrin::quoted_text::opener(target.strings(), text, at) != 0) {
      // A quote left open fails later, when the names are read.
      const auto end = qovrin::quoted_text::stringEnd(target.strings(), text, at);
      if (!end) return std::nullopt;
      at = *end;
      continue;
    }
    if (qovrin::isAsciiDigit(c)) {
      at = wordEnd(text, at);
      continue;
    }
    if (!startsIdentifier(c)) {
      ++at;
      continue;
    }
    const std::size_t end = wordEnd(text, at);
    const std::string_view word = text.substr(at, end - at);
    std::size_t open = end;
    while (open < text.size() && isBlank(text[open])) ++open;
    if (open < text.size() && text[open] == '(' && qovrin::indexOfName(kLayoutBuiltins, word)) {
      const auto close = closingParenthesis(text, open, target.strings());
      if (!close) return std::nullopt;
      return BuiltinCall{at, *close};
    }
    at = end;
  }
  return std::nullopt;
}

bool shouldKeepIsaIdentifier(target::Target target, std::string_view text, std::size_t position,
                             std::string_view identifier) noexcept {
  // Only RISC-V lines look at the mnemonic.
  if (target.isa != target::Isa::riscv) return shouldKeepIsaIdentifier(target, {}, text, position, identifier);
  const auto first = std::ranges::find_if_not(text, isBlank);
  const std::string_view mnemonic{first, std::find_if(first, text.end(), isBlank)};
  return shouldKeepIsaIdentifier(target, mnemonic, text, position, identifier);
}

bool shouldKeepIsaIdentifier(target::Target target, std::string_view mnemonic, std::string_view text,
                             std::size_t position, std::string_view identifier) noexcept {
  std::size_t before = position;
  while (before > 0 && isBlank(text[before - 1])) --before;
  if (before == 0) return true;
  std::size_t word_start = before;
  while (word_start > 0 && continuesIdentifier(text[word_start - 1])) --word_start;
  if (word_start < before && isX86PrefixWord(text.substr(word_start, before - word_start))) return true;
  switch (target.isa) {
    case target::Isa::spirv:
      return false;
    case target::Isa::riscv:
      return isRiscvOperandWord(mnemonic, identifier);
    case target::Isa::x86:
      return isX86RegisterOrKeyword(identifier);
  }
  return false;
}

bool isX86PrefixWord(std::string_view word) noexcept { return qovrin::inPackedWordSet(kPackedX86Prefixes, word); }

bool isX86NumberedRegister(std::string_view word, std::string_view prefix, unsigned highest) noexcept {
  if (word.size() <= prefix.size() || !qovrin::equalsIgnoreCase(word.substr(0, prefix.size()), prefix)) return false;
  const auto number = smallDecimal(word.substr(prefix.size()));
  return number && *number <= 255 && *number <= highest;
}

bool isX86ExtendedGeneralRegister(std::string_view word) noexcept {
  if (word.size() < 2 || qovrin::lowerAscii(word.front()) != 'r') return false;
  std::size_t digits_end = 1;
  while (digits_end < word.size() && qovrin::isAsciiDigit(word[digits_end])) ++digits_end;
  const auto number = smallDecimal(word.substr(1, digits_end - 1));
  if (!number || *number < 8 || *number > 15) return false;
  const std::string_view suffix = word.substr(digits_end);
  return suffix.empty() || (suffix.size() == 1 && qovrin::isOneOf(qovrin::lowerAscii(suffix.front()), "bwd"));
}

}  // namespace frontend::lower::instruction_words
