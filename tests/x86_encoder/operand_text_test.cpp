#include "x86_encoder/operand_text.hpp"

#include <gtest/gtest.h>

#include "x86_encoder/operand.hpp"
#include "x86_encoder/operand_flags.hpp"

namespace x86_encoder::api {
namespace {

using qovrin::Error;

struct SplitCase {
  std::string_view text;
  char delimiter;
  bool splits;
  std::string_view left;
  std::string_view right;
};

TEST(SplitTopLevelDelimiter, SplitsOnlyAtTheFirstTopLevelSign) {
  const SplitCase cases[] = {
      {"zmm0+3", '+', true, "zmm0", "3"},
      {"  dx : ax ", ':', true, "dx", "ax"},
      {"[a+b]+c", '+', true, "[a+b]", "c"},
      {"(a:b):c", ':', true, "(a:b)", "c"},
      {"{a,b},c", ',', true, "{a,b}", "c"},
      {"':':x", ':', true, "':'", "x"},
      {"\"a,b\",c", ',', true, "\"a,b\"", "c"},
      {"a+b+c", '+', false, "", ""},    // the right part holds the sign again
      {"a+(b+c)", '+', false, "", ""},  // even inside parentheses
      {"+a", '+', false, "", ""},
      {"a+", '+', false, "", ""},
      {"[a+b]", '+', false, "", ""},
      {"a)+b", '+', true, "a)", "b"},  // a stray closing sign does not nest
      {"'a+b", '+', false, "", ""},    // an open quote hides the rest
  };
  for (const SplitCase& c : cases) {
    const auto split = splitTopLevelDelimiter(c.text, c.delimiter);
    ASSERT_EQ(split.has_value(), c.splits) << c.text;
    if (!split) continue;
    EXPECT_EQ(split->left, c.left) << c.text;
    EXPECT_EQ(split->right, c.right) << c.text;
  }
}

struct DecoratorSplitCase {
  std::string_view text;
  std::string_view core;
  std::string_view decorators;
};

TEST(SplitOperandDecorators, CutsAtTheFirstBraceOutsideBrackets) {
  const DecoratorSplitCase cases[] = {
      {"zmm1 {k2}{z}", "zmm1", "{k2}{z}"},
      {"[rax]{1to8}", "[rax]", "{1to8}"},
      {"[a{b}]", "[a{b}]", ""},
      {"'{'", "'{'", ""},
      {"  eax  ", "eax", ""},
      {"{sae}", "", "{sae}"},
  };
  for (const DecoratorSplitCase& c : cases) {
    const auto split = splitOperandDecorators(c.text);
    ASSERT_TRUE(split.has_value()) << c.text;
    EXPECT_EQ(split->core, c.core) << c.text;
    EXPECT_EQ(split->decorators, c.decorators) << c.text;
  }
  for (const std::string_view text : {"eax]", "[eax", "[[eax]", "a]["})
    EXPECT_EQ(splitOperandDecorators(text).error(), Error::UnsupportedOperandSyntax) << text;
}

TEST(ParseOperandDecorators, ReadsMasksZeroingAndBroadcasts) {
  const std::pair<std::string_view, std::uint16_t> cases[] = {
      {"", 0},
      {"{k2}{z}", 0x12},
      {"{ K7 } { Z }", 0x17},
      {"{k0}", 0},
      {"{1to2}", 0x20},
      {"{1to4}", 0x1020},
      {"{1to8}", 0x2020},
      {"{1to16}", 0x3020},
      {"{1to32}", 0x4020},
      {"{k1}{1to8}", 0x2021},
  };
  for (const auto& [text, bits] : cases) {
    const auto parsed = parseOperandDecorators(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    EXPECT_EQ(*parsed, bits) << text;
  }
  for (const std::string_view text :
       {"{k9}", "{k8}", "{eax}", "{}", "{z", "z}", "{rn-sae}", "{sae}", "{1to3}", "{k1}{k2}", "{1to4}{1to8}"})
    EXPECT_EQ(parseOperandDecorators(text).error(), Error::UnsupportedOperandSyntax) << text;
}

struct QualifierCase {
  std::string_view text;
  std::uint64_t flags;
  std::uint32_t ea_flags;
  std::string_view rest;
};

TEST(StripOperandQualifiers, TakesLeadingQualifierWords) {
  const QualifierCase cases[] = {
      {"dword ptr [eax]", kSizeDword, 0, "[eax]"},
      {"strict byte 1", kStrict | kSizeByte, 0, "1"},
      {"SHORT\tlabel", kShort, 0, "label"},
      {"rel qword [x]", kSizeQword, kEaRel, "[x]"},
      {"far near short abs x", kFar | kNear | kShort | kAbs, 0, "x"},
      {"oword xword yword zword tword word x", 0xF200000000, 0, "x"},
      {"dword", 0, 0, "dword"},  // a last word always stays
      {"dword[eax]", 0, 0, "dword[eax]"},
      {"label + 1", 0, 0, "label + 1"},
      {"byte label + 1", kSizeByte, 0, "label + 1"},
  };
  for (const QualifierCase& c : cases) {
    const auto stripped = stripOperandQualifiers(c.text);
    ASSERT_TRUE(stripped.has_value()) << c.text;
    EXPECT_EQ(stripped->flags, c.flags) << c.text;
    EXPECT_EQ(stripped->ea_flags, c.ea_flags) << c.text;
    EXPECT_EQ(stripped->text, c.rest) << c.text;
  }
  EXPECT_EQ(stripOperandQualifiers("  ").error(), Error::UnsupportedOperandSyntax);
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
  const std::pair<std::string_view, std::int32_t> cases[] = {
      {"cs", 47}, {"DS", 85}, {" es ", 93}, {"fs", 96}, {"gs", 97}, {"ss", 224},
  };
  for (const auto& [text, id] : cases) EXPECT_EQ(segmentPrefixValueByName(text), id) << text;
  for (const std::string_view text : {"ax", "e s", "", "k1"}) EXPECT_FALSE(segmentPrefixValueByName(text)) << text;
}

}  // namespace
}  // namespace x86_encoder::api
