#pragma once
// Reading instruction text before it is lowered: where the layout builtins
// called inside it are, and which identifiers belong to the target's own
// syntax (mnemonics, prefixes, registers, size words) and so are never
// replaced by meta values.

#include <cstddef>
#include <optional>
#include <string_view>

#include "frontend/values/target.hpp"

namespace frontend::lower::instruction_words {

// A letter, '_' or '.' starts an identifier; letters, digits, '.', '_' and
// '$' continue it.
constexpr bool startsIdentifier(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '.';
}
constexpr bool continuesIdentifier(char c) noexcept {
  return startsIdentifier(c) || (c >= '0' && c <= '9') || c == '$';
}

// The end of the word that starts at position: an identifier, or a number
// with everything glued to it (10h, 0x1f, 1e5), so that neither is ever cut
// into pieces that could be mistaken for names.
constexpr std::size_t wordEnd(std::string_view text, std::size_t position) noexcept {
  std::size_t at = position;
  while (at < text.size() && continuesIdentifier(text[at])) ++at;
  return at;
}

struct BuiltinCall {
  std::size_t start = 0;
  std::size_t end = 0;  // after the closing parenthesis
};

// The first call of a layout builtin at or after position; none when there
// is none or its parentheses are not closed before the text ends. Quoted
// runs, read as a line of the target reads them, hold no call: their text is
// the instruction's data.
std::optional<BuiltinCall> findBuiltinCall(std::string_view text, std::size_t position,
                                           target::Target target) noexcept;

// Whether the identifier at position belongs to the target's syntax. The
// line's first word is its mnemonic, which decides for the names that only
// some RISC-V instructions read (rounding modes, fence sets, CSR names).
bool shouldKeepIsaIdentifier(target::Target target, std::string_view text, std::size_t position,
                             std::string_view identifier) noexcept;
// The same for text that holds only part of a line, with the line's mnemonic.
bool shouldKeepIsaIdentifier(target::Target target, std::string_view mnemonic, std::string_view text,
                             std::size_t position, std::string_view identifier) noexcept;

bool isX86PrefixWord(std::string_view word) noexcept;
// prefix followed by a decimal number not above highest (xmm0 .. xmm31).
bool isX86NumberedRegister(std::string_view word, std::string_view prefix, unsigned highest) noexcept;
// r8 .. r15 with an optional b, w or d.
bool isX86ExtendedGeneralRegister(std::string_view word) noexcept;

}  // namespace frontend::lower::instruction_words
