#include "frontend/syntax/expr_number.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

using frontend::expr::unreadableNumberToken;

TEST(UnreadableNumberToken, FindsTheFirstNumberThatReadsAsNone) {
  struct Case {
    std::string_view text;
    std::optional<std::string_view> token;
  };
  const Case cases[] = {
      {"db(1, 0xffffffffffffffff)", std::nullopt},
      {"db(99999999999999999999)", "99999999999999999999"},
      {"mov rax, 0x1ffffffffffffffff", "0x1ffffffffffffffff"},
      {"let x = 1'000 + 18446744073709551616", "18446744073709551616"},
      // Digits inside names and quotes are no numbers.
      {"let x1 = r99999999999999999999", std::nullopt},
      {"db(\"99999999999999999999\", '99999999999999999999')", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(unreadableNumberToken(c.text), c.token) << c.text;
}

}  // namespace
