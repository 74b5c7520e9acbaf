#include "x86_encoder/operand_literals.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <span>

#include "operand_test_support.hpp"

namespace x86_encoder::api {
namespace {

using qovrin::Error;
using testing::errorOf;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

using LiteralCase = std::pair<std::string_view, std::int64_t>;

TEST(ParseIntLiteralForEncode, ReadsLiterals) {
  const LiteralCase forms[] = {
      {"0", 0},       {"42", 42},    {" +7 ", 7},          {"-8", -8},     {"1_000", 1000},  {"0ah", 10},
      {"0FFH", 255},  {"0x7f", 127}, {"0X_FF_FF", 0xFFFF}, {"-0x10", -16}, {"'ab'", 0x6261}, {"\"ab\"", 0x6261},
      {"''''", 0x27}, {"''", 0},     {"~0", -1},           {"~ ~ 5", 5},   {"~-1", 0},
  };
  // Decimal patterns up to 2^64-1 stand for their 64-bit value, the form in
  // which negative meta integers reach instruction text.
  const LiteralCase bounds[] = {
      {"'abcdefghij'", 0x6867666564636261}, {"-0x8000000000000000", kMin}, {"-9223372036854775808", kMin},
      {"0xFFFFFFFFFFFFFFFF", -1},           {"0x0000000000000000001", 1},  {"18446744073709551608", -8},
      {"9223372036854775808", kMin},        {"18446744073709551615", -1},
  };
  for (const auto cases : {std::span<const LiteralCase>(forms), std::span<const LiteralCase>(bounds)}) {
    for (const auto& [text, value] : cases) {
      const auto parsed = parseIntLiteralForEncode(text);
      ASSERT_TRUE(parsed.has_value() && parsed->has_value()) << text;
      EXPECT_EQ(**parsed, value) << text;
    }
  }
}

TEST(ParseIntLiteralForEncode, LeavesNamesAlone) {
  for (const std::string_view text :
       {"", "ah", "abh", "12ab", "_", "label", "~label", "~", "'a'b'", "'''", "- 5", "1.5", "eax", "0b101",
        // A hex number followed by an operator is an expression.
        "0x10+rbx", "0x10 | 0x20", "1+2h", "0x(1)"}) {
    const auto parsed = parseIntLiteralForEncode(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    EXPECT_FALSE(parsed->has_value()) << text;
  }
}

// Only a constant whose quotes enclose the whole word may skip the operand
// scans: one that leaves a sign outside its quotes must still meet them.
TEST(IsCharacterConstant, AcceptsOnlyOneWholeConstant) {
  for (const std::string_view text : {"'a'", "''", "''''", "\"a'b\"", "'{k1}'", "'a:b'", "'a''b'"})
    EXPECT_TRUE(isCharacterConstant(text)) << text;
  for (const std::string_view text :
       {"", "'", "a", "'a\"", "'a'b'", "'a'+'b'", "'a':'b'", "'a'{k1}", "~'a'", "'a' ", "[x+'a']", "1'000"})
    EXPECT_FALSE(isCharacterConstant(text)) << text;
}

TEST(ParseIntLiteralForEncode, RejectsMalformedLiterals) {
  for (const std::string_view text : {"0zh", "-", "+", "0x", "0x_", "0xg1", "0x10h", "1_h_z_h", "~0zh"})
    EXPECT_EQ(errorOf(parseIntLiteralForEncode(text)), Error::InvalidIntegerLiteral) << text;
  for (const std::string_view text : {"18446744073709551616", "-9223372036854775809", "0x1_0000_0000_0000_0000",
                                      "-0x8000000000000001", "10000000000000000h"})
    EXPECT_EQ(errorOf(parseIntLiteralForEncode(text)), Error::IntegerOverflow) << text;
}

TEST(ParseClassifiedInt, ReadsBothBases) {
  const std::tuple<std::string_view, unsigned, std::int64_t> cases[] = {
      {"10", 10, 10},  {"-1_0", 10, -10},  {"10", 16, 16},    {"0x10", 16, 16},
      {"10h", 16, 16}, {"-ffh", 16, -255}, {"+0X1f", 16, 31}, {"FFFFFFFFFFFFFFFF", 16, -1},
  };
  for (const auto& [text, base, value] : cases) EXPECT_EQ(parseClassifiedInt(text, base).value(), value) << text;
  const std::tuple<std::string_view, unsigned, Error> failures[] = {
      {"", 10, Error::InvalidIntegerLiteral},   {"_", 16, Error::InvalidIntegerLiteral},
      {"1a", 10, Error::InvalidIntegerLiteral}, {"10", 8, Error::InvalidIntegerLiteral},
      {"-", 10, Error::InvalidIntegerLiteral},  {"10000000000000000", 16, Error::IntegerOverflow},
  };
  for (const auto& [text, base, error] : failures) EXPECT_EQ(errorOf(parseClassifiedInt(text, base)), error) << text;
}

}  // namespace
}  // namespace x86_encoder::api
