#include "frontend/values/operand_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/error_of.hpp"

namespace {

using frontend::operand_text::sliceOperand;
using frontend::operand_text::splitOperands;
using frontend::value::OperandEnvironment;
using frontend::value::OperandPiece;
using qovrin::Error;
using qovrin::quoted_text::kSource;
using qovrin::quoted_text::kSpirv;
using qovrin::quoted_text::Rules;
using qovrin::testing::errorOf;

std::string nested(std::size_t depth) { return std::string(depth, '(') + "x" + std::string(depth, ')'); }

std::string operandList(std::size_t count) {
  std::string text = "a";
  for (std::size_t index = 1; index < count; ++index) text += ", a";
  return text;
}

TEST(SplitOperands, TopLevelCommasOnly) {
  struct Case {
    std::string text;
    std::vector<std::string> operands;
    Rules strings = kSource;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {" \t ", {}},
      {"a", {"a"}},
      {"  a , b\t", {"a", "b"}},
      {"f(a, b), [c, d]", {"f(a, b)", "[c, d]"}},
      {"(a, b)", {"(a, b)"}},
      {"'x, y'", {"'x, y'"}},
      {"\"a\\\", b\", c", {"\"a\\\", b\"", "c"}, kSpirv},
      {"\"a\\\", b", {"\"a\\\"", "b"}},
      {"'x, y'", {"'x", "y'"}, kSpirv},
      {"1'000, 2", {"1'000", "2"}},
      {"'it''s, here', d", {"'it''s, here'", "d"}},
      {"{a, [b, (c, d)]}, e", {"{a, [b, (c, d)]}", "e"}},
      {nested(64), {nested(64)}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.text);
    const auto operands = splitOperands(test.text, test.strings);
    ASSERT_TRUE(operands);
    EXPECT_EQ(std::vector<std::string>(operands->begin(), operands->end()), test.operands);
  }
  const auto many = splitOperands(operandList(256), kSource);
  ASSERT_TRUE(many);
  EXPECT_EQ(many->size(), 256u);
}

TEST(SplitOperands, RefusesMalformedLists) {
  const std::vector<std::string> texts = {
      "a,,b", "a,", ",a", ";", "a; b", "a\nb", "a\rb", "(a", "a)", "(a]", "[a)", "'open", "\"a\\\", b\"",
      nested(65), operandList(257),
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(errorOf(splitOperands(text, kSource)), Error::InvalidMacroOperands);
  }
  EXPECT_EQ(errorOf(splitOperands("\"open\\\"", kSpirv)), Error::InvalidMacroOperands);
}

TEST(SliceOperand, KeepsEachPartsEnvironment) {
  const auto first = std::make_shared<const OperandEnvironment>();
  const auto second = std::make_shared<const OperandEnvironment>();
  const std::vector<OperandPiece> pieces = {{"abc", first}, {"de", second}, {"f", first}};

  const auto middle = sliceOperand(pieces, 2, 5);
  ASSERT_TRUE(middle);
  ASSERT_EQ(middle->pieces().size(), 2u);
  EXPECT_EQ(middle->pieces()[0].text, "c");
  EXPECT_EQ(middle->pieces()[0].environment, first);
  EXPECT_EQ(middle->pieces()[1].text, "de");
  EXPECT_EQ(middle->pieces()[1].environment, second);

  const auto empty = sliceOperand(pieces, 3, 3);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->pieces().empty());
  const auto whole = sliceOperand(pieces, 0, 6);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->text(), "abcdef");

  EXPECT_EQ(errorOf(sliceOperand(pieces, 2, 1)), Error::InvalidApiArgument);
  EXPECT_EQ(errorOf(sliceOperand(pieces, 0, 7)), Error::InvalidApiArgument);
}

}  // namespace
