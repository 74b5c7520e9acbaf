#include "main/source_lines.hpp"

#include <algorithm>

namespace qovrin::main {

SourceLines::SourceLines(std::string_view text) : text_(text) {
  for (std::size_t index = 0; index < text.size(); ++index)
    if (text[index] == '\r' || (text[index] == '\n' && (index == 0 || text[index - 1] != '\r')))
      breaks_.push_back(index);
}

LineColumn SourceLines::at(std::uint32_t offset) const noexcept {
  const std::size_t limit = std::min<std::size_t>(offset, text_.size());
  const auto before = std::lower_bound(breaks_.begin(), breaks_.end(), limit);
  const auto count = static_cast<std::size_t>(before - breaks_.begin());
  std::size_t line_start = 0;
  if (count != 0) {
    const std::size_t last = breaks_[count - 1];
    const bool pair = text_[last] == '\r' && last + 1 < text_.size() && text_[last + 1] == '\n';
    line_start = last + (pair ? 2 : 1);
  }
  // An offset on the LF of a CR LF is already on the next line.
  const std::size_t column = limit >= line_start ? limit - line_start + 1 : 1;
  return {static_cast<std::uint32_t>(count + 1), static_cast<std::uint32_t>(column)};
}

LineColumn lineColumnAt(std::string_view text, std::uint32_t offset) { return SourceLines(text).at(offset); }

}  // namespace qovrin::main
