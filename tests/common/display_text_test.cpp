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
      // U+009F is the last C1 control; U+00A0, a no-break space, is text.
      {"apc \xc2\x9f", "apc \\xc2\\x9f"},
      {"nbsp \xc2\xa0", "nbsp \xc2\xa0"},
      // Overlong 3- and 4-byte forms, up to the largest point each may not
      // hold; the smallest 3- and 4-byte points and U+10FFFF, which stay;
      // the first point past U+10FFFF.
      {"\xe0\x80\xaf \xe0\x9f\xbf", "\\xe0\\x80\\xaf \\xe0\\x9f\\xbf"},
      {"\xf0\x80\x80\xaf \xf0\x8f\xbf\xbf", "\\xf0\\x80\\x80\\xaf \\xf0\\x8f\\xbf\\xbf"},
      {"\xc2\xa1 \xe0\xa0\x80 \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf", "\xc2\xa1 \xe0\xa0\x80 \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf"},
      {"past \xf4\x90\x80\x80", "past \\xf4\\x90\\x80\\x80"},
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
