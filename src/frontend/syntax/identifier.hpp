#pragma once
// Character classes and name tests shared by the line classifier and the
// statement parsers.

#include <string_view>

#include "common/ascii.hpp"

namespace frontend::identifier {

using qovrin::isAsciiDigit;
using qovrin::isAsciiLetter;

// A character that may begin a name: a letter, "_" or ".".
constexpr bool isNameStart(char c) noexcept { return isAsciiLetter(c) || c == '_' || c == '.'; }

// A character that may continue a name: a letter, a digit, ".", "_" or "$".
constexpr bool isNameChar(char c) noexcept {
  return isAsciiLetter(c) || isAsciiDigit(c) || c == '.' || c == '_' || c == '$';
}

// Blank characters of a source line: space and tab only.
constexpr bool isBlank(char c) noexcept { return c == ' ' || c == '\t'; }

// The text without leading and trailing blanks and tabs.
constexpr std::string_view trimBlanks(std::string_view text) noexcept { return qovrin::trim(text, " \t"); }

// The longest prefix made only of name characters (possibly empty).
std::string_view firstWord(std::string_view text) noexcept;

// A name: starts with a letter, "_" or "."; goes on with letters, digits, ".", "_" or "$".
bool isName(std::string_view text) noexcept;

// "name = ..." with a single "=" (not "==", "!=", "<=", ">=").
bool looksLikeAssignment(std::string_view text) noexcept;

}  // namespace frontend::identifier
