#include "frontend/evaluate/expr_eval.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "common/error_of.hpp"
#include "frontend/support/evaluation_cases.hpp"

using qovrin::testing::errorOf;

namespace {

using frontend::expr::EvaluationContext;
using frontend::expr::EvaluationHooks;
using frontend::expr::Node;
using frontend::module::Module;
using frontend::target::Target;
using frontend::value::Value;
using qovrin::Error;

constexpr std::uint64_t kMax = ~std::uint64_t{0};

Node parse(std::string_view text) { return qovrin::testing::parseExpression(text); }

qovrin::Result<Value> evaluate(std::string_view text, const EvaluationContext& context) {
  return qovrin::testing::evaluateText(text, context);
}

Value integer(std::uint64_t word) { return Value::integer(word); }
Value boolean(bool truth) { return Value::boolean(truth); }
Value number(double value) { return Value::float64(value); }
const frontend::value::Bytes kAB = {'A', 'B'};

using Case = qovrin::testing::EvaluationCase;

void expectCases(std::span<const Case> cases, const EvaluationContext& context) {
  qovrin::testing::expectEvaluations(cases, context);
}

class Evaluation : public ::testing::Test {
 protected:
  Module module{Target::x86(64)};
  EvaluationContext context{.module = module};
};

// Bits shifted out are lost without an error.
TEST_F(Evaluation, IntegerArithmeticIsCheckedUnsigned) {
  const Case cases[] = {
      {"3 - 5", Error::InvalidNumber},
      {"5 - 5", integer(0)},
      {"-1", integer(kMax)},
      {"18446744073709551615 + 1", Error::InvalidNumber},
      {"4294967296 * 4294967295", integer(0xffffffff00000000)},
      {"4294967296 * 4294967296", Error::InvalidNumber},
      {"-1 / 2", integer(kMax / 2)},
      {"5 / 0", Error::DivisionByZero},
      {"5 % 0", Error::DivisionByZero},
      {"1 << 64", integer(0)},
      {"-1 >> 63", integer(1)},
      {"-1 >> 64", integer(0)},
      {"3 << 62", integer(0xc000000000000000)},
      {"~0", integer(kMax)},
      {"0xf0 & 0x3c | 0x1f ^ 0x01", integer(0x3e)},
      {"2 + 3 * 4", integer(14)},
  };
  expectCases(cases, context);
}

// Instruction operands: the same sums wrap instead of failing.
TEST_F(Evaluation, OperandArithmeticWrapsAround64Bits) {
  context.wrapping = true;
  const Case cases[] = {
      {"3 - 5", integer(kMax - 1)},
      {"(3 - 5) + 4", integer(2)},
      {"18446744073709551615 + 1", integer(0)},
      {"4294967296 * 4294967297", integer(0x100000000)},
      {"5 / 0", Error::DivisionByZero},
      {"1.0e308 * 10.0", Error::InvalidNumber},
  };
  expectCases(cases, context);
}

// f32 arithmetic must stay finite as a float, not merely as a double.
TEST_F(Evaluation, FloatArithmeticStaysFinite) {
  ASSERT_TRUE(module.defineValue("half", Value::float32(0.5f), false, {}));
  ASSERT_TRUE(module.defineValue("big", Value::float32(3e38f), false, {}));
  const Case cases[] = {
      {"1.5 + 2.25", number(3.75)},
      {"-2.5", number(-2.5)},
      {"1.0 / 4.0", number(0.25)},
      {"1.0 / 0.0", Error::DivisionByZero},
      {"0.0 / 0.0", Error::DivisionByZero},
      {"1e308 * 10.0", Error::InvalidNumber},
      {"1.0 % 2.0", Error::TypeMismatch},
      {"~1.0", Error::TypeMismatch},
      {"half + half", Value::float32(1.0f)},
      {"-half", Value::float32(-0.5f)},
      {"big * big", Error::InvalidNumber},
      {"half + 0.5", Error::TypeMismatch},
      {"half / (half - half)", Error::DivisionByZero},
  };
  expectCases(cases, context);
}

// The right side of a decided || is never looked at; 1 == 1 < 2 compares an integer with a boolean.
TEST_F(Evaluation, KindsDoNotMixAndCompareUnsigned) {
  const Case cases[] = {
      {"1 + 1.0", Error::TypeMismatch}, {"1.0 + 1", Error::TypeMismatch},    {"true + 1", Error::TypeMismatch},
      {"1 < 1.5", Error::TypeMismatch}, {"!1", Error::TypeMismatch},         {"1 && true", Error::TypeMismatch},
      {"true || 1", boolean(true)},     {"false || 1", Error::TypeMismatch}, {"(1).x", Error::TypeMismatch},
      {"1 == 1.0", boolean(false)},     {"1 != 1.0", boolean(true)},         {"\"ab\" == b\"ab\"", boolean(false)},
      {"0.0 == -0.0", boolean(true)},   {"-1 > 1", boolean(true)},           {"2.5 <= 2.5", boolean(true)},
      {"!(1 < 2)", boolean(false)},     {"1 == 1 < 2", boolean(false)},      {"'it''s'", Value::string("it's")},
      {"b\"AB\"", Value::bytes(kAB)}};
  expectCases(cases, context);
}

TEST_F(Evaluation, ShortCircuitsAndOperandOrder) {
  const Case cases[] = {
      {"true || undefined_name", boolean(true)},           {"false && undefined_name", boolean(false)},
      {"false || undefined_name", Error::UndefinedSymbol}, {"undefined_name >> 70", integer(0)},
      {"undefined_name % 0", Error::DivisionByZero},       {"undefined_name / 0", Error::UndefinedSymbol},
      {"(0 - 1) + undefined_name", Error::InvalidNumber},  {"undefined_name + (0 - 1)", Error::UndefinedSymbol},
      // Along a chain, as nested evaluation of its links reads them.
      {"undefined_name + 1 << 70 << 1", integer(0)},       {"undefined_name % 0 + 1", Error::DivisionByZero},
      {"1 % 0 % undefined_name", Error::UndefinedSymbol},  {"0 - 1 + 2 + undefined_name", Error::InvalidNumber},
      {"10 - 3 - 2 - 1", integer(4)},                      {"2 << 3 >> 1 % 5 & 12", integer(8)},
      // A shift by 64 or more decides alone: nothing below it is read.
      {"(1 % 0) << 64", integer(0)},                       {"(undefined_name % 0 + 1) >> 65 << 1", integer(0)},
      {"false && undefined_name || true", boolean(true)},  {"1 < 2 == true != false", boolean(true)}};
  expectCases(cases, context);
}

TEST_F(Evaluation, NamesResolveInOrder) {
  module.sections()[0].base = 0x1000;
  ASSERT_TRUE(module.defineAnchoredLabel("start", 0, 0x10, 0, {}));
  ASSERT_TRUE(module.defineValue("answer", Value::integer(42), false, {}));
  ASSERT_TRUE(module.defineValue("name", Value::string("start"), false, {}));
  ASSERT_TRUE(module.defineAnchoredLabel("lost", 77, 0, 0, {}));
  const Case cases[] = {{"start + answer", integer(0x1010 + 42)},
                        {"name", Value::string("start")},
                        {"lost", Error::InvalidOperand},
                        {"missing", Error::UndefinedSymbol},
                        {"answer.x", Error::TypeMismatch}};
  expectCases(cases, context);
}

TEST_F(Evaluation, LocalsComeBeforeModuleSymbolsUnlessBlocked) {
  ASSERT_TRUE(module.defineValue("x", Value::integer(1), false, {}));
  EvaluationHooks hooks;
  int lookups = 0;
  hooks.resolve_local = [&](std::string_view name) -> qovrin::Result<std::optional<Value>> {
    ++lookups;
    if (name == "x" || name == "y") return std::optional<Value>(Value::integer(100));
    if (name == "broken") return qovrin::fail(Error::OutOfMemory);
    return std::optional<Value>();
  };
  context.hooks = &hooks;
  const std::vector<std::string> blocked = {"y"};
  context.blocked_names = blocked;
  const Case cases[] = {{"x", integer(100)},
                        {"y", Error::UndefinedSymbol},
                        {"broken", Error::OutOfMemory},
                        {"z", Error::UndefinedSymbol}};
  expectCases(cases, context);
  EXPECT_EQ(lookups, 3);  // the blocked name never asks for the local
}

TEST_F(Evaluation, IntegerTypeNamesAreCreatedOnce) {
  const auto first = evaluate("i64", context);
  ASSERT_TRUE(first && first->getIf<frontend::value::TypeValue>());
  const std::size_t types = module.types().size();
  const Case cases[] = {{"i64", *first}, {"u24", Error::UndefinedSymbol}};
  expectCases(cases, context);
  EXPECT_EQ(module.types().size(), types);
}

TEST_F(Evaluation, TargetFieldsFollowTheContextTarget) {
  const Case x86[] = {{"target.bits", integer(64)}, {"target.xlen", integer(64)}, {"target.isa", Error::UnknownField}};
  expectCases(x86, context);
  context.target = Target::riscv(32);
  const Case riscv[] = {{"target.xlen", integer(32)}};
  expectCases(riscv, context);
  context.target = Target::spirv();
  const Case spirv[] = {{"target.bits", Error::InvalidOperand}};
  expectCases(spirv, context);
}

TEST_F(Evaluation, BuiltinNamesAreNotValueFunctions) {
  EvaluationHooks hooks;
  std::vector<std::string> called;
  hooks.call_value_function = [&](std::string_view name, std::span<const frontend::expr::BuiltinArgument> arguments,
                                  const EvaluationContext&) -> qovrin::Result<Value> {
    called.emplace_back(name);
    return Value::integer(arguments.size());
  };
  const Case without_hook[] = {{"twice(1)", Error::InvalidOperand}};
  expectCases(without_hook, context);
  context.hooks = &hooks;
  const Case cases[] = {{"twice(1, 2)", integer(2)},
                        {"len(\"ab\")", integer(2)},
                        {"here()", Error::MissingEvaluationContext},
                        {"fs.exists(\"a\")", Value::boolean(false)}};
  expectCases(cases, context);
  EXPECT_EQ(called, (std::vector<std::string>{"twice"}));
}

TEST_F(Evaluation, BuiltinArgumentsEvaluateThreeWays) {
  ASSERT_TRUE(module.defineValue("v", Value::integer(9), false, {}));
  const Node call = parse("f(v, 1 + 2, Point{ x: 1 })");
  ASSERT_EQ(call.arguments().size(), 3u);
  using frontend::expr::evaluateBuiltinValueArg;
  EXPECT_EQ(evaluateBuiltinValueArg(call.arguments()[0], context)->asInteger()->word, 9u);
  EXPECT_EQ(evaluateBuiltinValueArg(call.arguments()[1], context)->asInteger()->word, 3u);
  EXPECT_EQ(errorOf(evaluateBuiltinValueArg(call.arguments()[2], context)), Error::MissingEvaluationContext);
  EvaluationHooks hooks;
  hooks.eval_struct_literal = [](std::string_view text, const EvaluationContext&) -> qovrin::Result<Value> {
    return Value::string(std::string(text));
  };
  context.hooks = &hooks;
  EXPECT_EQ(*evaluateBuiltinValueArg(call.arguments()[2], context)->asString(), "Point{ x: 1 }");
}

TEST_F(Evaluation, IntegerAndBooleanEntriesCheckTheKind) {
  EXPECT_EQ(errorOf(frontend::expr::evaluateInteger(parse("true"), context)), Error::TypeMismatch);
  EXPECT_EQ(errorOf(frontend::expr::evaluateBoolean(parse("1"), context)), Error::TypeMismatch);
  EXPECT_EQ(frontend::expr::evaluateInteger(parse("2 * 21"), context).value(), 42u);
  EXPECT_TRUE(frontend::expr::evaluateBoolean(parse("1 < 2"), context).value());
}

TEST_F(Evaluation, LongChainsStayWithinTheStack) {
  // 100,001 terms, walked on the runner's own stack, which recursion per term
  // would overrun.
  std::string text = "0";
  for (int index = 0; index < 50'000; ++index) text += " + 3 - 1";
  const Node node = parse(text);
  EXPECT_EQ(frontend::expr::evaluateInteger(node, context).value(), 100'000u);
  EXPECT_EQ(frontend::expr::constantIntegerValue(node).value(), std::optional<std::uint64_t>(100'000));
  EXPECT_FALSE(frontend::expr::usesOutputLoad(node));
  EXPECT_EQ(frontend::expr::evaluateInteger(frontend::expr::clone(node), context).value(), 100'000u);
  // The top link alone, its left operand given.
  EXPECT_EQ(frontend::expr::evaluateLink(node, integer(7), context).value().asInteger()->word, 6u);
}

// A chain keeps its first links inline and the rest on the heap: chains
// just below, at and past that boundary give each link's operand in order,
// evaluated, folded, copied and one link at a time. The links mix levels in
// parentheses, which make no nodes, so the whole text is one chain.
TEST_F(Evaluation, ChainsAcrossTheInlineLinks) {
  struct Link {
    const char* op;
    std::uint64_t right;
    std::uint64_t (*apply)(std::uint64_t, std::uint64_t);
  };
  const Link kinds[] = {
      {"+", 7, [](std::uint64_t a, std::uint64_t b) { return a + b; }},
      {"*", 3, [](std::uint64_t a, std::uint64_t b) { return a * b; }},
      {"%", 1000, [](std::uint64_t a, std::uint64_t b) { return a % b; }},
      {"<<", 2, [](std::uint64_t a, std::uint64_t b) { return a << b; }},
      {"-", 5, [](std::uint64_t a, std::uint64_t b) { return a - b; }},
  };
  for (const std::size_t links : {7u, 8u, 9u, 17u}) {
    std::string text(links, '(');
    text += "11";
    std::uint64_t below_top = 0;
    std::uint64_t expected = 11;
    for (std::size_t index = 0; index < links; ++index) {
      const Link& link = kinds[index % std::size(kinds)];
      // Each right operand differs by its place, so a link read from the
      // wrong place changes the result.
      const std::uint64_t right = link.right + (link.op[0] == '<' || link.op[0] == '*' ? 0 : index);
      text += std::string(" ") + link.op + " " + std::to_string(right) + ")";
      below_top = expected;
      expected = link.apply(expected, right);
    }
    SCOPED_TRACE(text);
    const Node node = parse(text);
    ASSERT_EQ(frontend::expr::LeftChain(node).size(), links);
    EXPECT_EQ(frontend::expr::evaluateInteger(node, context).value(), expected);
    EXPECT_EQ(frontend::expr::constantIntegerValue(node).value(), std::optional<std::uint64_t>(expected));
    EXPECT_EQ(frontend::expr::evaluateInteger(frontend::expr::clone(node), context).value(), expected);
    EXPECT_EQ(frontend::expr::evaluateLink(node, integer(below_top), context).value().asInteger()->word, expected);
  }
}

TEST(ConstantIntegerValue, FoldsWithoutContext) {
  // Folded to a number, not foldable (nullopt), or failed.
  const std::pair<const char*, std::variant<std::optional<std::uint64_t>, Error>> cases[] = {
      {"0x10 + 2", 0x12},
      {"-1", kMax},
      {"~0 >> 60", 0xf},
      {"x >> 64", 0},
      {"x >> 1", std::nullopt},
      {"1.0", Error::TypeMismatch},
      {"\"a\"", Error::TypeMismatch},
      {"'a' << 8", Error::TypeMismatch},
      {"x + 'a'", std::nullopt},
      {"3 - 5", kMax - 1},
      {"4294967296 * 4294967296", 0},
      {"1 / 0", Error::DivisionByZero},
      {"x % 0", Error::DivisionByZero},
      {"7 % 4 * 3 & 0xff | 0x100 ^ 1", (((7 % 4) * 3) & 0xff) | (0x100 ^ 1)},
      {"x + 1 << 64 << 1", 0},
      {"x % 0 + 1", Error::DivisionByZero},
      {"(1 % 0) << 64", 0},
      {"(x % 0 + 1) >> 65 << 1", 0},
      {"10 - 3 - 2 - 1", 4},
      {"1 + 2 < 3", std::nullopt},
      {"1 + 2 + x", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    const auto folded = frontend::expr::constantIntegerValue(parse(text));
    if (const auto* error = std::get_if<Error>(&expected)) {
      ASSERT_FALSE(folded) << text;
      EXPECT_EQ(errorOf(folded), *error) << text;
    } else {
      ASSERT_TRUE(folded) << text;
      EXPECT_EQ(*folded, std::get<0>(expected)) << text;
    }
  }
}

TEST(ConstantIntegerValue, SaysWhichLiteralNoIntegerOperatorTakes) {
  const std::pair<const char*, const char*> cases[] = {
      {"'a' << 8", "it combines a string with an integer"},
      {"1.5", "it is a float64, not an integer"},
      {"2 * (1 + b\"x\")", "it combines an integer with a bytes"},
      {"-(3 - 2.0) + 1", "it combines an integer with a float64"},
  };
  for (const auto& [text, reason] : cases) {
    ASSERT_EQ(errorOf(frontend::expr::constantIntegerValue(parse(text))), Error::TypeMismatch) << text;
    EXPECT_EQ(frontend::expr::constantMismatchReason(parse(text)), reason) << text;
  }
}

TEST(UsesOutputLoad, FindsLoadsAnywhereInTheTree) {
  const std::pair<const char*, bool> cases[] = {
      {"load.u8(start)", true},       {"1 + -load.u32(x)", true}, {"f(1, load.bytes(a, 2))", true},
      {"g(load.u64(x)).field", true}, {"f(load)", false},         {"load.x", false},
      {"here() + 1", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(frontend::expr::usesOutputLoad(parse(text)), expected) << text;
}

}  // namespace
