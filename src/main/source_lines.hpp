#pragma once
// Line and column of offsets in one source text, for diagnostics and
// listings that ask for many offsets: the line breaks are found once, and
// each question is a binary search. CR, LF and CR LF each end one line.

#include <cstdint>
#include <string_view>
#include <vector>

namespace qovrin::main {

struct LineColumn {
  std::uint32_t line = 1;
  std::uint32_t column = 1;
};

class SourceLines {
 public:
  explicit SourceLines(std::string_view text);

  // 1-based line and byte column of offset; an offset past the end lands
  // just after the last byte, and one on the LF of a CR LF starts the next
  // line.
  LineColumn at(std::uint32_t offset) const noexcept;

 private:
  std::string_view text_;
  std::vector<std::size_t> breaks_;  // index of each CR, and of each LF not after a CR
};

// One question about one text.
LineColumn lineColumnAt(std::string_view text, std::uint32_t offset);

}  // namespace qovrin::main
