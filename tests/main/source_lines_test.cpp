// One index answers every offset of a text, in any order, as counting the
// text from its start does.

#include "main/source_lines.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using qovrin::main::LineColumn;
using qovrin::main::SourceLines;

// Counts from the start: CR, LF and CR LF each end one line.
LineColumn counted(std::string_view text, std::uint32_t offset) {
  const std::size_t limit = std::min<std::size_t>(offset, text.size());
  LineColumn position;
  for (std::size_t index = 0; index < limit; ++index) {
    const bool ends = text[index] == '\r' || text[index] == '\n';
    if (text[index] == '\r' && index + 1 < limit && text[index + 1] == '\n') ++index;
    if (ends) {
      ++position.line;
      position.column = 1;
    } else {
      ++position.column;
    }
  }
  return position;
}

TEST(SourceLines, EveryOffsetMatchesCountingFromTheStart) {
  for (const std::string_view text : {"", "a", "\n", "\r", "\r\n", "ab\r\ncd\n\ref\r\r\n\n\tg", "\n\n\r\r\n\r",
                                      "x\r\n\r\n", "last line\r"}) {
    const SourceLines lines(text);
    for (std::uint32_t offset = static_cast<std::uint32_t>(text.size()) + 2; offset-- > 0;) {
      const LineColumn expected = counted(text, offset);
      const LineColumn found = lines.at(offset);
      EXPECT_EQ(found.line, expected.line) << offset << " in " << testing::PrintToString(text);
      EXPECT_EQ(found.column, expected.column) << offset << " in " << testing::PrintToString(text);
    }
  }
}

}  // namespace
