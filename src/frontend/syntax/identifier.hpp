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

// The characters between the parts of a dotted or "$" name.
constexpr bool separatesNameParts(char c) noexcept { return c == '.' || c == '$'; }

// Calls visit(name, called) on every name the text could make anyone look
// up: a word of name characters is read whole by some readers (bare builtin
// arguments, instruction text) and in parts by others (a field after a dot),
// so every run of its parts between separators counts. called is set for a
// whole word that a "(" follows, as a call names its function.
template <typename Visit>
void forEachNameIn(std::string_view text, Visit&& visit) {
  std::size_t position = 0;
  while (position < text.size()) {
    if (!identifier::isNameStart(text[position])) {
      ++position;
      continue;
    }
    std::size_t end = position + 1;
    while (end < text.size() && identifier::isNameChar(text[end])) ++end;
    const std::string_view word = text.substr(position, end - position);
    const std::size_t next = text.find_first_not_of(" \t", end);
    const bool called = next != std::string_view::npos && text[next] == '(';
    for (std::size_t first = 0; first < word.size(); ++first) {
      if (first != 0 && !separatesNameParts(word[first - 1])) continue;
      for (std::size_t last = first + 1; last <= word.size(); ++last)
        if (last == word.size() || separatesNameParts(word[last]))
          visit(word.substr(first, last - first), called && first == 0 && last == word.size());
    }
    position = end;
  }
}

// The longest prefix made only of name characters (possibly empty).
std::string_view firstWord(std::string_view text) noexcept;

// A name: starts with a letter, "_" or "."; goes on with letters, digits, ".", "_" or "$".
bool isName(std::string_view text) noexcept;

// "name = ..." with a single "=" (not "==", "!=", "<=", ">=").
bool looksLikeAssignment(std::string_view text) noexcept;

}  // namespace frontend::identifier
