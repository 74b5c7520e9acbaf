#include "frontend/expr_eval.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace {

using frontend::expr::EvaluationContext;
using frontend::expr::EvaluationHooks;
using frontend::expr::Node;
using frontend::module::Module;
using frontend::target::Target;
using frontend::value::Value;
using qovrin::Error;

constexpr std::uint64_t kMax = ~std::uint64_t{0};

Node parse(std::string_view text) {
  auto node = frontend::expr::parseOwned(text);
  EXPECT_TRUE(node) << text;
  return node ? std::move(*node) : Node{};
}

qovrin::Result<Value> evaluate(std::string_view text, const EvaluationContext& context) {
  return frontend::expr::evaluateValue(parse(text), context);
}

// What a case expects: an integer, a boolean, a float64, a float32 or an error.
using Expected = std::variant<std::uint64_t, bool, double, float, Error>;

struct Case {
  const char* text;
  Expected expected;
};

void expectCases(std::span<const Case> cases, const EvaluationContext& context) {
  for (const auto& test : cases) {
    const auto result = evaluate(test.text, context);
    if (const auto* error = std::get_if<Error>(&test.expected)) {
      ASSERT_FALSE(result) << test.text;
      EXPECT_EQ(result.error(), *error) << test.text << " gave " << qovrin::errorName(result.error());
      continue;
    }
    ASSERT_TRUE(result) << test.text << " failed with " << qovrin::errorName(result.error());
    if (const auto* word = std::get_if<std::uint64_t>(&test.expected)) {
      ASSERT_NE(result->asInteger(), nullptr) << test.text;
      EXPECT_EQ(result->asInteger()->word, *word) << test.text;
    } else if (const auto* truth = std::get_if<bool>(&test.expected)) {
      ASSERT_NE(result->getIf<bool>(), nullptr) << test.text;
      EXPECT_EQ(*result->getIf<bool>(), *truth) << test.text;
    } else if (const auto* number = std::get_if<double>(&test.expected)) {
      ASSERT_NE(result->getIf<double>(), nullptr) << test.text;
      EXPECT_EQ(*result->getIf<double>(), *number) << test.text;
    } else {
      ASSERT_NE(result->getIf<float>(), nullptr) << test.text;
      EXPECT_EQ(*result->getIf<float>(), std::get<float>(test.expected)) << test.text;
    }
  }
}

class Evaluation : public ::testing::Test {
 protected:
  Module module{Target::x86(64)};
  EvaluationContext context{.module = module};
};

TEST_F(Evaluation, IntegerArithmeticIsCheckedUnsigned) {
  const Case cases[] = {
      {"3 - 5", Error::InvalidNumber},
      {"0 - 1", Error::InvalidNumber},
      {"5 - 5", std::uint64_t{0}},
      {"-1", kMax},
      {"- -1", std::uint64_t{1}},
      {"-0", std::uint64_t{0}},
      {"+7", std::uint64_t{7}},
      {"18446744073709551615 + 0", kMax},
      {"18446744073709551615 + 1", Error::InvalidNumber},
      {"-1 + 1", Error::InvalidNumber},
      {"4294967296 * 4294967295", std::uint64_t{0xffffffff00000000}},
      {"4294967296 * 4294967296", Error::InvalidNumber},
      {"7 / 2", std::uint64_t{3}},
      {"-1 / 2", kMax / 2},
      {"5 / 0", Error::DivisionByZero},
      {"5 % 0", Error::DivisionByZero},
      {"17 % 5", std::uint64_t{2}},
      {"1 << 64", std::uint64_t{0}},
      {"1 << 63", std::uint64_t{1} << 63},
      {"1 << 100", std::uint64_t{0}},
      {"-1 >> 63", std::uint64_t{1}},
      {"-1 >> 64", std::uint64_t{0}},
      {"3 << 62", std::uint64_t{3} << 62},  // bits shifted out are lost, no error
      {"~0", kMax},
      {"0xf0 & 0x3c", std::uint64_t{0x30}},
      {"0xf0 | 0x0f", std::uint64_t{0xff}},
      {"0xff ^ 0x0f", std::uint64_t{0xf0}},
      {"2 + 3 * 4", std::uint64_t{14}},
  };
  expectCases(cases, context);
}

TEST_F(Evaluation, FloatArithmeticStaysFinite) {
  const Case cases[] = {
      {"1.5 + 2.25", 3.75},
      {"1.0 - 2.5", -1.5},
      {"-2.5", -2.5},
      {"+2.5", 2.5},
      {"1.0 / 4.0", 0.25},
      {"1.0 / 0.0", Error::DivisionByZero},
      {"1.0 / -0.0", Error::DivisionByZero},
      {"0.0 / 0.0", Error::DivisionByZero},
      {"1e308 * 10.0", Error::InvalidNumber},
      {"-1e308 - 1e308", Error::InvalidNumber},
      {"1e308 + 1e308", Error::InvalidNumber},
      {"1.0 % 2.0", Error::TypeMismatch},
      {"1.0 << 1", Error::TypeMismatch},
      {"~1.0", Error::TypeMismatch},
  };
  expectCases(cases, context);
}

TEST_F(Evaluation, KindsDoNotMix) {
  const Case cases[] = {
      {"1 + 1.0", Error::TypeMismatch},       {"1.0 + 1", Error::TypeMismatch},
      {"\"a\" + \"b\"", Error::TypeMismatch}, {"true + 1", Error::TypeMismatch},
      {"1 < 1.5", Error::TypeMismatch},       {"-true", Error::TypeMismatch},
      {"-\"a\"", Error::TypeMismatch},        {"!1", Error::TypeMismatch},
      {"1 && true", Error::TypeMismatch},     {"true || 1", true},  // the right side is never looked at
      {"false || 1", Error::TypeMismatch},
  };
  expectCases(cases, context);
}

TEST_F(Evaluation, ComparisonsAndEquality) {
  const Case cases[] = {
      {"1 == 1.0", false},
      {"1 != 1.0", true},
      {"2 == 2", true},
      {"\"ab\" == \"ab\"", true},
      {"\"ab\" == b\"ab\"", false},
      {"0.0 == -0.0", true},
      {"-1 > 1", true},  // unsigned
      {"1 <= 1", true},
      {"2 >= 3", false},
      {"1.5 < 2.5", true},
      {"2.5 <= 2.5", true},
      {"!(1 < 2)", false},
      {"1 == 1 < 2", false},  // 1 == (1 < 2) compares an integer with a boolean
  };
  expectCases(cases, context);
}

TEST_F(Evaluation, ShortCircuitsAndOperandOrder) {
  const Case cases[] = {
      {"true || undefined_name", true},
      {"false && undefined_name", false},
      {"false || undefined_name", Error::UndefinedSymbol},
      {"undefined_name >> 70", std::uint64_t{0}},
      {"undefined_name << 64", std::uint64_t{0}},
      {"undefined_name << 1", Error::UndefinedSymbol},
      {"undefined_name % 0", Error::DivisionByZero},
      {"undefined_name / 0", Error::UndefinedSymbol},
      {"(0 - 1) + undefined_name", Error::InvalidNumber},
      {"undefined_name + (0 - 1)", Error::UndefinedSymbol},
  };
  expectCases(cases, context);
}

TEST_F(Evaluation, FloatThirtyTwoArithmeticUsesItsOwnPrecision) {
  ASSERT_TRUE(module.defineValue("half", Value::float32(0.5f), false, {}));
  ASSERT_TRUE(module.defineValue("big", Value::float32(3e38f), false, {}));
  const Case cases[] = {
      {"half + half", 1.0f},
      {"-half", -0.5f},
      {"half < half", false},
      {"big * big", Error::InvalidNumber},  // finite as a double, not as a float
      {"half + 0.5", Error::TypeMismatch},
      {"half / (half - half)", Error::DivisionByZero},
  };
  expectCases(cases, context);
}

TEST_F(Evaluation, LiteralsBecomeOwnedValues) {
  const auto text = evaluate("'it''s'", context);
  ASSERT_TRUE(text && text->asString());
  EXPECT_EQ(*text->asString(), "it's");
  const auto bytes = evaluate("b\"AB\"", context);
  ASSERT_TRUE(bytes && bytes->asBytes());
  EXPECT_EQ(*bytes->asBytes(), (frontend::value::Bytes{'A', 'B'}));
}

TEST_F(Evaluation, NamesResolveInOrder) {
  ASSERT_TRUE(module.sections()[0].base = 0x1000);
  ASSERT_TRUE(module.defineAnchoredLabel("start", 0, 0x10, 0, {}));
  ASSERT_TRUE(module.defineValue("answer", Value::integer(42), false, {}));
  ASSERT_TRUE(module.defineValue("name", Value::string("start"), false, {}));
  const auto high = module.createOutputSection(".high", kMax, 0);
  ASSERT_TRUE(high);
  ASSERT_TRUE(module.defineAnchoredLabel("beyond", *high, 1, 0, {}));
  ASSERT_TRUE(module.defineAnchoredLabel("lost", 77, 0, 0, {}));
  const Case cases[] = {
      {"start", std::uint64_t{0x1010}},    {"start + answer", std::uint64_t{0x1010 + 42}},
      {"beyond", Error::InvalidNumber},    {"lost", Error::InvalidOperand},
      {"missing", Error::UndefinedSymbol},
  };
  expectCases(cases, context);
  const auto text = evaluate("name", context);
  ASSERT_TRUE(text && text->asString());
  EXPECT_EQ(*text->asString(), "start");
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
  const Case cases[] = {
      {"x", std::uint64_t{100}},
      {"y", Error::UndefinedSymbol},
      {"broken", Error::OutOfMemory},
      {"z", Error::UndefinedSymbol},
  };
  expectCases(cases, context);
  EXPECT_EQ(lookups, 3);  // the blocked name never asks for the local
}

TEST_F(Evaluation, IntegerTypeNamesAreCreatedOnce) {
  const auto first = evaluate("u8", context);
  ASSERT_TRUE(first);
  ASSERT_NE(first->getIf<frontend::value::TypeValue>(), nullptr);
  const std::size_t types = module.types().size();
  const auto again = evaluate("u8", context);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->getIf<frontend::value::TypeValue>()->id, first->getIf<frontend::value::TypeValue>()->id);
  EXPECT_EQ(module.types().size(), types);
  const auto wide = evaluate("i64", context);
  ASSERT_TRUE(wide);
  const auto* type = module.types().find(wide->getIf<frontend::value::TypeValue>()->id);
  ASSERT_NE(type, nullptr);
  EXPECT_TRUE(type->getIf<frontend::types::IntegerType>()->is_signed);
  EXPECT_EQ(evaluate("u24", context).error(), Error::UndefinedSymbol);
}

TEST_F(Evaluation, TargetFieldsFollowTheContextTarget) {
  const Case module_target[] = {
      {"target.bits", std::uint64_t{64}},
      {"target.xlen", std::uint64_t{64}},
      {"target.isa", Error::UnknownField},
  };
  expectCases(module_target, context);
  context.target = Target::riscv(32);
  const Case riscv[] = {{"target.xlen", std::uint64_t{32}}};
  expectCases(riscv, context);
  context.target = Target::spirv();
  const Case spirv[] = {{"target.bits", Error::InvalidOperand}};
  expectCases(spirv, context);
}

TEST_F(Evaluation, FieldAccessNeedsAStruct) {
  ASSERT_TRUE(module.defineValue("n", Value::integer(1), false, {}));
  const Case cases[] = {
      {"n.x", Error::TypeMismatch},
      {"(1).x", Error::TypeMismatch},
  };
  expectCases(cases, context);
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
  const Case cases[] = {
      {"twice(1, 2)", std::uint64_t{2}},
      {"len(\"ab\")", Error::InvalidOperand},
      {"here()", Error::InvalidOperand},
      {"fs.exists(\"a\")", Error::InvalidOperand},
  };
  expectCases(cases, context);
  EXPECT_EQ(called, (std::vector<std::string>{"twice"}));
}

TEST_F(Evaluation, BuiltinArgumentsEvaluateThreeWays) {
  ASSERT_TRUE(module.defineValue("v", Value::integer(9), false, {}));
  const Node call = parse("f(v, 1 + 2, Point{ x: 1 })");
  ASSERT_EQ(call.arguments.size(), 3u);
  using frontend::expr::evaluateBuiltinValueArg;
  EXPECT_EQ(evaluateBuiltinValueArg(call.arguments[0], context)->asInteger()->word, 9u);
  EXPECT_EQ(evaluateBuiltinValueArg(call.arguments[1], context)->asInteger()->word, 3u);
  EXPECT_EQ(evaluateBuiltinValueArg(call.arguments[2], context).error(), Error::MissingEvaluationContext);
  EvaluationHooks hooks;
  hooks.eval_struct_literal = [](std::string_view text, const EvaluationContext&) -> qovrin::Result<Value> {
    return Value::string(std::string(text));
  };
  context.hooks = &hooks;
  EXPECT_EQ(*evaluateBuiltinValueArg(call.arguments[2], context)->asString(), "Point{ x: 1 }");
}

TEST_F(Evaluation, IntegerAndBooleanEntriesCheckTheKind) {
  EXPECT_EQ(frontend::expr::evaluateInteger(parse("true"), context).error(), Error::TypeMismatch);
  EXPECT_EQ(frontend::expr::evaluateBoolean(parse("1"), context).error(), Error::TypeMismatch);
  EXPECT_EQ(frontend::expr::evaluateInteger(parse("2 * 21"), context).value(), 42u);
  EXPECT_TRUE(frontend::expr::evaluateBoolean(parse("1 < 2"), context).value());
}

TEST_F(Evaluation, DeepTreesStayWithinTheStack) {
  // A left-leaning chain as tall as the parser allows.
  std::string text = "0";
  for (int index = 0; index < 900; ++index) text += " + 1";
  const auto node = frontend::expr::parseOwned(text);
  ASSERT_TRUE(node);
  EXPECT_EQ(frontend::expr::evaluateInteger(*node, context).value(), 900u);
  EXPECT_EQ(frontend::expr::constantIntegerValue(*node).value(), std::optional<std::uint64_t>(900));
  EXPECT_FALSE(frontend::expr::usesOutputLoad(*node));
}

struct FoldCase {
  const char* text;
  std::optional<std::uint64_t> folded;
  Error error;  // when folded is empty and this is not OutOfMemory
};

TEST(ConstantIntegerValue, FoldsWithoutContext) {
  const FoldCase cases[] = {
      {"0x10 + 2", 0x12, {}},
      {"-1", kMax, {}},
      {"~0 >> 60", 0xf, {}},
      {"+5", 5, {}},
      {"x >> 64", 0, {}},
      {"x >> 1", std::nullopt, Error::OutOfMemory},
      {"1.0", std::nullopt, Error::OutOfMemory},
      {"1 < 2", std::nullopt, Error::OutOfMemory},
      {"!true", std::nullopt, Error::OutOfMemory},
      {"here()", std::nullopt, Error::OutOfMemory},
      {"\"a\"", std::nullopt, Error::OutOfMemory},
      {"3 - 5", std::nullopt, Error::InvalidNumber},
      {"1 / 0", std::nullopt, Error::DivisionByZero},
      {"x % 0", std::nullopt, Error::DivisionByZero},
      {"7 % 4 * 3 & 0xff | 0x100 ^ 1", (((7 % 4) * 3) & 0xff) | (0x100 ^ 1), {}},
  };
  for (const auto& test : cases) {
    const auto folded = frontend::expr::constantIntegerValue(parse(test.text));
    if (!test.folded && test.error != Error::OutOfMemory) {
      ASSERT_FALSE(folded) << test.text;
      EXPECT_EQ(folded.error(), test.error) << test.text;
      continue;
    }
    ASSERT_TRUE(folded) << test.text;
    EXPECT_EQ(*folded, test.folded) << test.text;
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
