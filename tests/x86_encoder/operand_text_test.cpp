#include "x86_encoder/operand_text.hpp"

#include <gtest/gtest.h>

#include <string>

#include "operand_test_support.hpp"

#include "x86_encoder/operand.hpp"
#include "x86_encoder/operand_flags.hpp"

namespace x86_encoder::api {
namespace {

using qovrin::Error;
using testing::errorOf;

// The six blanks of C, and no other byte, are trimmed; findChar finds the
// first copy from the given position.
TEST(OperandText, BlanksAndCharacterSearch) {
  for (int code = 0; code < 256; ++code) {
    const char c = static_cast<char>(code);
    const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    EXPECT_EQ(isOperandSpace(c), blank) << code;
  }
  EXPECT_EQ(trimOperandText(" \t\v[rax]\r\n\f"), "[rax]");
  EXPECT_EQ(trimOperandText("\x1F\x85" "eax\xA0"), "\x1F\x85" "eax\xA0");
  EXPECT_EQ(findChar("es:[a:b]", ':'), 2u);
  EXPECT_EQ(findChar("es:[a:b]", ':', 3), 5u);
  EXPECT_EQ(findChar("es:[a:b]", ','), std::string_view::npos);
}

// Every register is found by its name in either case; texts of another
// shape, or that differ from a name only in a byte's bit 5, are not.
TEST(FindOperandRegister, FindsEveryRegisterAndNothingElse) {
  for (const tables::RegisterRow& row : tables::registers()) {
    std::string upper(row.name);
    for (char& c : upper) c = qovrin::isAsciiLetter(c) ? static_cast<char>(c & ~0x20) : c;
    EXPECT_EQ(findOperandRegister(row.name), &row) << row.name;
    EXPECT_EQ(findOperandRegister(upper), &row) << upper;
  }
  for (const std::string_view text : {"", "e", "1ax", "eax ", "e_x", "r8\x10", "\x01ax", "xmm\x11", "zmm32", "eaxx"})
    EXPECT_EQ(findOperandRegister(text), nullptr) << text;
}

// Splits at the first sign outside brackets and quotes; a stray closing sign
// does not nest.
TEST(SplitTopLevelDelimiter, SplitsOnlyAtTheFirstTopLevelSign) {
  const std::tuple<std::string_view, char, std::string_view, std::string_view> cases[] = {
      {"zmm0+3", '+', "zmm0", "3"},       {"  dx : ax ", ':', "dx", "ax"}, {"[a+b]+c", '+', "[a+b]", "c"},
      {"(a:b):c", ':', "(a:b)", "c"},     {"{a,b},c", ',', "{a,b}", "c"},  {"':':x", ':', "':'", "x"},
      {"\"a,b\",c", ',', "\"a,b\"", "c"}, {"a)+b", '+', "a)", "b"},
  };
  for (const auto& [text, delimiter, left, right] : cases) {
    const auto split = splitTopLevelDelimiter(text, delimiter);
    ASSERT_TRUE(split.has_value()) << text;
    EXPECT_EQ(split->left, left) << text;
    EXPECT_EQ(split->right, right) << text;
  }
  // No split when the right part holds the sign again, even inside
  // parentheses, when a part is empty, or when an open quote hides the rest.
  for (const std::string_view text : {"a+b+c", "a+(b+c)", "+a", "a+", "[a+b]", "'a+b"})
    EXPECT_FALSE(splitTopLevelDelimiter(text, '+').has_value()) << text;
}

TEST(SplitOperandDecorators, CutsAtTheFirstBraceOutsideBrackets) {
  const std::tuple<std::string_view, std::string_view, std::string_view> cases[] = {
      {"[rax]{1to8}", "[rax]", "{1to8}"},
      {"[a{b}]", "[a{b}]", ""},
      {"'{'", "'{'", ""},
      {"  eax  ", "eax", ""},
      {"{sae}", "", "{sae}"},
  };
  for (const auto& [text, core, decorators] : cases) {
    const auto split = splitOperandDecorators(text);
    ASSERT_TRUE(split.has_value()) << text;
    EXPECT_EQ(split->core, core) << text;
    EXPECT_EQ(split->decorators, decorators) << text;
  }
  for (const std::string_view text : {"eax]", "[eax", "[[eax]", "a]["})
    EXPECT_EQ(errorOf(splitOperandDecorators(text)), Error::UnsupportedOperandSyntax) << text;
}

TEST(ParseOperandDecorators, ReadsMasksZeroingAndBroadcasts) {
  const std::pair<std::string_view, std::uint16_t> cases[] = {
      {"", 0},
      {"{ K7 } { Z }", 0x17},
      {"{k0}", 0},
      {"{1to2}", 0x20},
      {"{1to4}", 0x1020},
      {"{1to8}", 0x2020},
      {"{1to16}", 0x3020},
      {"{1to32}", 0x4020},
      {"{k1}{1to8}", 0x2021},
  };
  for (const auto& [text, bits] : cases) EXPECT_EQ(parseOperandDecorators(text).value(), bits) << text;
  for (const std::string_view text :
       {"{k8}", "{eax}", "{}", "{z", "z}", "{rn-sae}", "{sae}", "{1to3}", "{k1}{k2}", "{1to4}{1to8}"})
    EXPECT_EQ(errorOf(parseOperandDecorators(text)), Error::UnsupportedOperandSyntax) << text;
}

// A last word always stays, even when it is a qualifier.
TEST(StripOperandQualifiers, TakesLeadingQualifierWords) {
  const std::tuple<std::string_view, std::uint64_t, std::uint32_t, std::string_view> cases[] = {
      {"dword ptr [eax]", kSizeDword, 0, "[eax]"},
      {"strict byte 1", kStrict | kSizeByte, 0, "1"},
      {"SHORT\tlabel", kShort, 0, "label"},
      {"rel qword [x]", kSizeQword, kEaRel, "[x]"},
      {"far near short abs x", kFar | kNear | kShort | kAbs, 0, "x"},
      {"oword xword yword zword tword word x", 0xF200000000, 0, "x"},
      {"dword", 0, 0, "dword"},
      {"dword[eax]", 0, 0, "dword[eax]"},
      {"label + 1", 0, 0, "label + 1"},
      {"byte label + 1", kSizeByte, 0, "label + 1"},
  };
  for (const auto& [text, flags, ea_flags, rest] : cases) {
    const auto stripped = stripOperandQualifiers(text);
    ASSERT_TRUE(stripped.has_value()) << text;
    EXPECT_EQ(stripped->flags, flags) << text;
    EXPECT_EQ(stripped->ea_flags, ea_flags) << text;
    EXPECT_EQ(stripped->text, rest) << text;
  }
  EXPECT_EQ(errorOf(stripOperandQualifiers("  ")), Error::UnsupportedOperandSyntax);
}

TEST(SplitSegmentOverride, NeedsOneColonAndASegmentRegister) {
  const auto es = splitSegmentOverride("es:[di]");
  ASSERT_TRUE(es.has_value());
  EXPECT_EQ(es->segment->id, 93);
  EXPECT_EQ(es->rest, "[di]");
  const auto fs = splitSegmentOverride(" FS : 0x28 ");
  ASSERT_TRUE(fs.has_value());
  EXPECT_EQ(fs->segment->name, "fs");
  EXPECT_EQ(fs->rest, "0x28");
  for (const std::string_view text : {"dx:ax", "es:", ":di", "es:di:x", "0x10:0x20", "es"})
    EXPECT_FALSE(splitSegmentOverride(text).has_value()) << text;
}

TEST(SegmentPrefixValueByName, NamesTheSixSegmentRegisters) {
  for (const auto& [text, id] : {std::pair{"cs", 47}, {"DS", 85}, {" es ", 93}, {"fs", 96}, {"gs", 97}, {"ss", 224}})
    EXPECT_EQ(segmentPrefixValueByName(text), id) << text;
  for (const std::string_view text : {"ax", "e s", "", "k1"}) EXPECT_FALSE(segmentPrefixValueByName(text)) << text;
}

}  // namespace
}  // namespace x86_encoder::api
