#include "frontend/syntax/expr_number.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

using frontend::expr::unreadableNumberCause;
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

TEST(UnreadableNumberCause, NamesWhatTheRadixRulesRefused) {
  struct Case {
    std::string_view token;
    std::string_view cause;
  };
  const Case cases[] = {
      {"0x", "no digits follow '0x'"},
      {"0X", "no digits follow '0X'"},
      {"0h", "no digits follow '0h'"},
      {"0xg", "'g' is no hex digit"},
      {"0XG", "'G' is no hex digit"},
      {"0x1p", "'p' is no hex digit"},
      {"0x1'g", "'g' is no hex digit"},
      {"0b2", "'2' is no binary digit"},
      {"0o8", "'8' is no octal digit"},
      {"12a", "'a' is no decimal digit"},
      // A leading 0 reads as octal only when every digit is one.
      {"09z", "'z' is no decimal digit"},
      {"12ab", "'2' is no binary digit: a number that ends in 'b' is read as binary"},
      {"19o", "'9' is no octal digit: a number that ends in 'o' is read as octal"},
      {"1e", "no digits follow the exponent 'e'"},
      {"1.5E+", "no digits follow the exponent 'E'"},
      // Digits after the exponent's sign: the letter after them is what fails.
      {"1e+5z", "'e' is no decimal digit"},
      {"1e-z", "no digits follow the exponent 'e'"},
      {"1e999", "an f64 reaches only about 1.8e308"},
      {"18446744073709551616", "integers have at most 64 bits"},
      {"0x1_0000_0000_0000_0000", "integers have at most 64 bits"},
  };
  for (const Case& c : cases) EXPECT_EQ(unreadableNumberCause(c.token), c.cause) << c.token;
}

}  // namespace
