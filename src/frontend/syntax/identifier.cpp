#include "frontend/syntax/identifier.hpp"

#include <algorithm>

#include "frontend/syntax/byte_scan.hpp"

namespace frontend::identifier {

std::string_view firstWord(std::string_view text) noexcept {
  const auto end = std::find_if_not(text.begin(), text.end(), isNameChar);
  return text.substr(0, static_cast<std::size_t>(end - text.begin()));
}

bool isName(std::string_view text) noexcept {
  return !text.empty() && isNameStart(text.front()) && firstWord(text).size() == text.size();
}

bool looksLikeAssignment(std::string_view text) noexcept {
  const std::string_view trimmed = trimBlanks(text);
  // Most lines hold no "=": a scan of whole words finds that without a call.
  const std::size_t equals = byte_scan::findFirstOf<'='>(trimmed, 0);
  if (equals == trimmed.size() || equals == 0) return false;
  if (equals + 1 < trimmed.size() && trimmed[equals + 1] == '=') return false;
  const char before = trimmed[equals - 1];
  if (before == '!' || before == '<' || before == '>') return false;
  return isName(trimBlanks(trimmed.substr(0, equals)));
}

}  // namespace frontend::identifier
