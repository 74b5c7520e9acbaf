#include "common/display_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

TEST(DisplayText, EscapesWhatATerminalWouldActOnAndKeepsOtherText) {
  struct Case {
    std::string_view text;
    std::string_view shown;
  };
  const Case cases[] = {
      {"plain text", "plain text"},
      {"tab\there", "tab\\x09here"},
      {"\x1b[2J", "\\x1b[2J"},
      {"del\x7f", "del\\x7f"},
      {std::string_view("nul\0end", 7), "nul\\x00end"},
      {"\xef\xbb\xbfx86.use64()", "\\xef\\xbb\\xbfx86.use64()"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"csi \xc2\x9b", "csi \\xc2\\x9b"},
      {"lone \xff\xfe", "lone \\xff\\xfe"},
      {"overlong \xc0\xaf", "overlong \\xc0\\xaf"},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},
  };
  for (const Case& item : cases) {
    std::string out;
    qovrin::appendPrintable(out, item.text);
    EXPECT_EQ(out, item.shown) << item.shown;
  }
}

TEST(DisplayText, QuotedSubjectsStopAfter120BytesOnACharacterBoundary) {
  EXPECT_EQ(qovrin::quotedSubject("name"), "'name'");
  const std::string exact(120, 'a');
  EXPECT_EQ(qovrin::quotedSubject(exact), "'" + exact + "'");
  EXPECT_EQ(qovrin::quotedSubject(exact + "b"), "'" + exact + "...'");
  // 119 bytes, then a two-byte character across the cut: it goes whole.
  const std::string across = std::string(119, 'a') + "\xc3\xa9" + "tail";
  EXPECT_EQ(qovrin::quotedSubject(across), "'" + std::string(119, 'a') + "...'");
}

}  // namespace
