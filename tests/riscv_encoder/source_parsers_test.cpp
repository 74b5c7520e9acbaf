#include "riscv_encoder/source_parsers.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ascii.hpp"
#include "common/error_of.hpp"
#include "riscv_encoder/api.hpp"

namespace {

using qovrin::Error;
using qovrin::testing::errorOf;
using namespace riscv_encoder::source;

TEST(ParseRegister, NamesAndNumbers) {
  const std::pair<std::string_view, int> registers[] = {
      {"zero", 0}, {"ra", 1}, {"fp", 8}, {"s0", 8}, {"S11", 27}, {"t6", 31}, {"FA0", 10}, {"ft11", 31},
      {"x0_1", 1}, {"v31", 31}, {"f3", 3}, {" x3 ", 3}, {"X1_0", 10}, {"x007", 7},
  };
  for (const auto& [text, number] : registers) EXPECT_EQ(riscv_encoder::api::parseRegister(text), number) << text;
  for (const std::string_view text : {"", "x_1", "x1_", "x1__0", "x32", "x256", "x99999", "y1", "x", "a8", "f"})
    EXPECT_EQ(errorOf(riscv_encoder::api::parseRegister(text)), Error::RegisterOutOfRange) << text;
}

// The name index against a scan of the ABI names in the order the names are
// tried (integer names, fp, floating-point names) and the numbered forms:
// every text of up to four characters over the names' letters and digits.
TEST(ParseRegister, EveryShortTextReadsAsAScanReadsIt) {
  std::vector<std::pair<std::string, int>> names{{"zero", 0}, {"ra", 1}, {"sp", 2}, {"gp", 3}, {"tp", 4}};
  const auto add = [&names](std::string_view prefix, int first_suffix, int first_number, int count) {
    for (int index = 0; index < count; ++index)
      names.emplace_back(std::string(prefix) + std::to_string(first_suffix + index), first_number + index);
  };
  add("t", 0, 5, 3), add("s", 0, 8, 2), add("a", 0, 10, 8), add("s", 2, 18, 10), add("t", 3, 28, 4);
  names.emplace_back("fp", 8);
  add("ft", 0, 0, 8), add("fs", 0, 8, 2), add("fa", 0, 10, 8), add("fs", 2, 18, 10), add("ft", 8, 28, 4);
  const auto expected = [&names](std::string_view text) -> std::optional<int> {
    for (const auto& [name, number] : names)
      if (qovrin::equalsIgnoreCase(name, text)) return number;
    if (text.size() < 2 || !qovrin::isOneOf(qovrin::lowerAscii(text[0]), "xfv")) return std::nullopt;
    int value = 0;
    for (std::size_t index = 1; index < text.size(); ++index) {
      if (text[index] == '_' && index > 1 && index + 1 < text.size() && qovrin::isAsciiDigit(text[index - 1]))
        continue;
      if (!qovrin::isAsciiDigit(text[index])) return std::nullopt;
      value = value * 10 + (text[index] - '0');
    }
    return value < 32 ? std::optional<int>(value) : std::nullopt;
  };
  const auto check = [&expected](std::string_view text) {
    const auto parsed = riscv_encoder::api::parseRegister(text);
    const auto want = expected(text);
    EXPECT_EQ(parsed ? std::optional<int>(*parsed) : std::nullopt, want) << text;
    if (!want) {
      EXPECT_EQ(errorOf(parsed), Error::RegisterOutOfRange) << text;
    }
  };
  const std::string_view alphabet("zeroaspgtfxv0123456789_\0", 24);
  std::string text;
  const auto walk = [&](auto& self, std::size_t length) -> void {
    check(text);
    if (length == 4) return;
    for (const char c : alphabet) {
      text.push_back(c);
      self(self, length + 1);
      text.pop_back();
    }
  };
  walk(walk, 0);
  for (const auto& [name, number] : names) {
    std::string upper = name;
    for (char& c : upper)
      if (qovrin::isAsciiLetter(c)) c = static_cast<char>(c - 'a' + 'A');
    check(upper);
    check(std::string(1, upper[0]) + name.substr(1));
  }
}

TEST(ParseIntegerLiteral, BasesSignsAndSeparators) {
  const std::pair<std::string_view, std::uint64_t> literals[] = {
      {"0", 0}, {"-1", ~std::uint64_t{0}}, {"+12", 12}, {"0x7fF", 0x7ff}, {"0o17", 15}, {"0b1010", 10},
      {"1_000", 1000}, {"0xFFFF_FFFF_FFFF_FFFF", ~std::uint64_t{0}}, {"-9223372036854775808", std::uint64_t{1} << 63},
      {"18446744073709551615", ~std::uint64_t{0}},
  };
  for (const auto& [text, value] : literals) EXPECT_EQ(parseIntegerLiteral(text), value) << text;
  for (const std::string_view text : {"", "-", "0x", "_1", "1_", "1__0", "12a", "sym", "0b2", "1+2"})
    EXPECT_EQ(parseIntegerLiteral(text), std::nullopt) << text;
  for (const std::string_view text : {"18446744073709551616", "-9223372036854775809", "0x1_0000_0000_0000_0000"})
    EXPECT_EQ(errorOf(parseIntegerLiteral(text)), Error::ImmediateOutOfRange) << text;
}

TEST(ParseNamedOperands, CsrsRoundingModesAndFences) {
  EXPECT_EQ(parseCsrName("MSTATUS"), 0x300u);
  EXPECT_EQ(parseCsrName("pmpaddr3"), 0x3B3u);
  EXPECT_EQ(errorOf(parseCsrName("mhartid")), Error::InvalidOperand);
  EXPECT_EQ(parseRoundingMode("DYN"), 7u);
  EXPECT_EQ(parseRoundingMode("rmm"), 4u);
  EXPECT_EQ(errorOf(parseRoundingMode("rm")), Error::InvalidOperand);
  EXPECT_EQ(parseFenceMask("iorw"), 15u);
  EXPECT_EQ(parseFenceMask("RW"), 3u);
  EXPECT_EQ(parseFenceMask("ww"), 1u);
  for (const std::string_view text : {"", "rx", "r w"})
    EXPECT_EQ(errorOf(parseFenceMask(text)), Error::InvalidOperand) << text;
}

TEST(ParseVType, FourWordsOnly) {
  EXPECT_EQ(parseVType("e32, m1, ta, ma"), 0xD0u);
  EXPECT_EQ(parseVType("E64,MF8,tu,mu"), 0x1Du);
  EXPECT_EQ(errorOf(parseVType("0xd0")), Error::UnsupportedOperandSyntax);
  for (const std::string_view text : {"e128, m1, ta, ma", "e32, m3, ta, ma", "e32, m1, ta", "e32, m1, ta, ma, mu",
                                      "e32, m1, ma, ta"})
    EXPECT_EQ(errorOf(parseVType(text)), Error::InvalidOperand) << text;
}

TEST(ParseRegisterList, ZcmpLists) {
  const std::pair<std::string_view, std::uint32_t> lists[] = {
      {"{ra}", 4}, {"{ra, s0}", 5}, {"{ra,s0-s1}", 6}, {"{ ra , s0-s2 }", 7}, {"{ra, s0-s9}", 14},
      {"{ra, s0-s11}", 15}, {"{x1, x8-x27}", 15},
  };
  for (const auto& [text, rlist] : lists) EXPECT_EQ(parseRegisterList(text), rlist) << text;
  EXPECT_EQ(errorOf(parseRegisterList("ra")), Error::UnsupportedOperandSyntax);
  for (const std::string_view text : {"{}", "{s0}", "{ra, s0-s10}", "{ra, s1}", "{ra, s0, s1}", "{ra, s0-a0}"})
    EXPECT_EQ(errorOf(parseRegisterList(text)), Error::InvalidOperand) << text;
}

}  // namespace
