#pragma once
// ASCII character tests and trimming shared by every text scanner. Source
// text is bytes: nothing here depends on the locale.

#include <cstddef>
#include <string_view>

namespace qovrin {

constexpr bool isAsciiLetter(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool isAsciiDigit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr char lowerAscii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool equalsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t index = 0; index < a.size(); ++index)
    if (lowerAscii(a[index]) != lowerAscii(b[index])) return false;
  return true;
}

// Whether the "'" at index separates digit groups of a number ("1'000"): a
// decimal digit stands directly on both sides. Such a quote opens no quoted
// text for any scan that looks for quotes.
constexpr bool isDigitSeparator(std::string_view text, std::size_t index) noexcept {
  return text[index] == '\'' && index > 0 && index + 1 < text.size() && isAsciiDigit(text[index - 1]) &&
         isAsciiDigit(text[index + 1]);
}

constexpr bool isOneOf(char c, std::string_view set) noexcept {
  for (const char member : set)
    if (c == member) return true;
  return false;
}

// Plain loops: find_first_not_of would search the set with memchr once per character.
constexpr std::string_view trim(std::string_view text, std::string_view set) noexcept {
  std::size_t first = 0;
  std::size_t end = text.size();
  while (first < end && isOneOf(text[first], set)) ++first;
  while (end > first && isOneOf(text[end - 1], set)) --end;
  return text.substr(first, end - first);
}

constexpr std::string_view trimEnd(std::string_view text, std::string_view set) noexcept {
  std::size_t end = text.size();
  while (end > 0 && isOneOf(text[end - 1], set)) --end;
  return text.substr(0, end);
}

}  // namespace qovrin
