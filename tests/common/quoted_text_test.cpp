#include "common/quoted_text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

namespace {

using qovrin::quoted_text::Cursor;
using qovrin::quoted_text::kSource;
using qovrin::quoted_text::kSpirv;
using qovrin::quoted_text::Rules;

constexpr std::size_t kNone = 0;  // no string opens at the position
constexpr std::size_t kOpen = std::string_view::npos;

struct Case {
  std::string_view text;
  Rules rules;
  std::size_t at;
  std::size_t end;  // one past the closing quote, kNone or kOpen
};

// Each row reads one string as the lines of a target read it.
constexpr Case kCases[] = {
    {"'ab' x", kSource, 0, 4},
    {"'ab' x", kSpirv, 0, kNone},
    {"\"ab\" x", kSpirv, 0, 4},
    {"\"a\\\"b\" c", kSource, 0, 4},
    {"\"a\\\"b\" c", kSpirv, 0, 6},
    {"\"a\\\\\" x", kSpirv, 0, 5},
    {"\"a\"\"b\" c", kSource, 0, 6},
    {"\"a\"\"b\" c", kSpirv, 0, 6},
    {"'it''s' x", kSource, 0, 7},
    {"'a\\' x", kSource, 0, 4},
    {"\"abc\\\"", kSource, 0, 6},
    {"\"abc\\\"", kSpirv, 0, kOpen},
    {"\"a\\", kSpirv, 0, kOpen},
    {"'abc", kSource, 0, kOpen},
    {"\"abc", kSpirv, 0, kOpen},
    {"1'000", kSource, 1, kNone},
    {"x'000'", kSource, 1, 6},
    {"1'x'", kSource, 1, 4},
    {"'\"' x", kSource, 0, 3},
    {"\"'\" x", kSpirv, 0, 3},
    {"a, b", kSource, 0, kNone},
};

TEST(QuotedText, ReadsEachTargetsStrings) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.text << " at " << c.at << (c.rules == kSpirv ? " (SPIR-V)" : ""));
    const char quote = qovrin::quoted_text::opener(c.rules, c.text, c.at);
    ASSERT_EQ(quote != 0, c.end != kNone);
    if (quote == 0) continue;
    EXPECT_EQ(quote, c.text[c.at]);
    const auto end = qovrin::quoted_text::stringEnd(c.rules, c.text, c.at);
    EXPECT_EQ(end.value_or(kOpen), c.end);
  }
}

// The byte-at-a-time reading keeps every byte of the string inside it and
// leaves the string where the jumping reading does.
TEST(QuotedText, CursorReadsAsTheJumpDoes) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.text << " at " << c.at << (c.rules == kSpirv ? " (SPIR-V)" : ""));
    Cursor cursor(c.rules);
    const std::size_t stop = c.end == kNone ? c.at + 1 : std::min(c.end, c.text.size());
    bool any_outside = false;
    for (std::size_t at = c.at; at < stop; ++at) any_outside = cursor.outside(c.text, at) || any_outside;
    EXPECT_EQ(any_outside, c.end == kNone);
    EXPECT_EQ(cursor.inString(), c.end == kOpen);
    if (c.end != kNone && c.end != kOpen && c.end < c.text.size()) {
      EXPECT_TRUE(cursor.outside(c.text, c.end));
    }
  }
}

}  // namespace
