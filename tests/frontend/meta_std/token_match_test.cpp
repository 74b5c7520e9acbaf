#include "frontend/meta_std/token_match.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "frontend/support/evaluation_cases.hpp"

namespace {

using frontend::token_match::TokenView;
using frontend::value::ListValue;
using frontend::value::MapValue;
using frontend::value::Value;
using qovrin::Error;
using qovrin::testing::errorOf;
using Case = qovrin::testing::EvaluationCase;

Value texts(std::vector<std::string> items) {
  std::vector<Value> values;
  for (auto& item : items) values.push_back(Value::string(std::move(item)));
  auto list = ListValue::make(std::move(values));
  EXPECT_TRUE(list);
  return Value(std::move(*list));
}

// The map match.tokens returns.
Value matched(bool ok, std::vector<std::pair<std::string, Value>> captures = {}) {
  MapValue captured;
  for (auto& [name, value] : captures) EXPECT_TRUE(captured.set(name, std::move(value)));
  MapValue result;
  EXPECT_TRUE(result.set("ok", Value::boolean(ok)));
  EXPECT_TRUE(result.set("captures", Value(std::move(captured))));
  return Value(std::move(result));
}

std::string repeated(std::string_view piece, std::size_t count) {
  std::string text;
  for (std::size_t index = 0; index < count; ++index) text += piece;
  return text;
}

TEST(Tokenize, SplitsWordsOperatorsAndQuotes) {
  const std::pair<std::string, std::variant<std::vector<std::string_view>, Error>> cases[] = {
      {"mov eax, [rbx+8]", std::vector<std::string_view>{"mov", "eax", ",", "[", "rbx", "+", "8", "]"}},
      {"a->b::c", std::vector<std::string_view>{"a", "->", "b", "::", "c"}},
      {"1.5", std::vector<std::string_view>{"1", ".", "5"}},
      {"x<<=y", std::vector<std::string_view>{"x", "<<", "=", "y"}},
      {"'a\\'b' c", std::vector<std::string_view>{"'a\\'b'", "c"}},
      {"\"q\"x", std::vector<std::string_view>{"\"q\"", "x"}},
      {"a#$@`\\b\x80\vc\fd", std::vector<std::string_view>{"a#$@`\\b\x80", "c", "d"}},
      {" \t\r\n", std::vector<std::string_view>{}},
      {"'abc", Error::InvalidArgument},
      {"'ab\\", Error::InvalidArgument},
      {repeated("+", 256), std::vector<std::string_view>(256, "+")},
      {repeated("+", 257), Error::InvalidArgument},
  };
  for (const auto& [text, expected] : cases) {
    const auto tokens = frontend::token_match::tokenize(text);
    if (const auto* error = std::get_if<Error>(&expected)) {
      EXPECT_EQ(errorOf(tokens), *error) << text;
      continue;
    }
    ASSERT_TRUE(tokens) << text;
    EXPECT_EQ(*tokens, std::get<0>(expected)) << text;
  }
}

TEST(RenderTokens, SpacesOnlyBetweenLooseTokens) {
  const std::pair<TokenView, std::string_view> cases[] = {
      {{"f", "(", "x", ",", "y", ")"}, "f (x, y)"},
      {{"a", "=", "b"}, "a=b"},
      {{"a", "+", "b"}, "a+b"},
      {{"return", "x"}, "return x"},
      {{"a", ";", "{", "b", "}"}, "a; {b}"},
      {{"x", "->", "y"}, "x -> y"},
      {{}, ""},
  };
  for (const auto& [tokens, expected] : cases) EXPECT_EQ(frontend::token_match::renderTokens(tokens).value(), expected);
}

TEST(CaptureSingleToken, IntegersAndQuotedTexts) {
  using frontend::token_match::TokenCaptureKind;
  const std::pair<std::string_view, std::optional<std::uint64_t>> integers[] = {
      {"0x10", 16},
      {"+5", 5},
      {"-0", 0},
      {"-1", std::nullopt},
      {"1_000", 1000},
      {"1__0", std::nullopt},
      {"_1", std::nullopt},
      {"1_", std::nullopt},
      {"0b101", 5},
      {"0X1f", 31},
      {"0o17", 15},
      {"0x", std::nullopt},
      {"12ab", std::nullopt},
      {"18446744073709551615", ~std::uint64_t{0}},
      {"18446744073709551616", std::nullopt},
  };
  for (const auto& [token, expected] : integers) {
    const auto value = frontend::token_match::captureSingleToken(TokenCaptureKind::integer, token);
    EXPECT_EQ(value.has_value(), expected.has_value()) << token;
    if (value && expected) {
      EXPECT_EQ(value->asInteger()->word, *expected) << token;
    }
  }
  const std::pair<std::string_view, std::optional<std::string_view>> quoted[] = {
      {"'a\\tb\\'c'", "a\tb'c"}, {"\"\"", ""}, {"'a\"", std::nullopt}, {"'", std::nullopt}, {"ab", std::nullopt},
  };
  for (const auto& [token, expected] : quoted) {
    const auto value = frontend::token_match::captureSingleToken(TokenCaptureKind::quoted, token);
    EXPECT_EQ(value.has_value(), expected.has_value()) << token;
    if (value && expected) {
      EXPECT_EQ(*value->asString(), *expected) << token;
    }
  }
}

class TokenBuiltins : public ::testing::Test {
 protected:
  void expect(std::span<const Case> cases) { qovrin::testing::expectEvaluations(cases, context); }

  frontend::module::Module module{frontend::target::Target::x86(64)};
  frontend::expr::EvaluationContext context{.module = module};
};

TEST_F(TokenBuiltins, TokensRoundTrip) {
  const Case cases[] = {
      {"tokens.join(tokens.of(\"mov eax, [rbx+8]\"))", Value::string("mov eax, [rbx+8]")},
      {"join(tokens.of(\"x<<=y\"), \"|\")", Value::string("x|<<|=|y")},
      {"tokens.of(list.of(\"a b\", \"\"))", texts({"a b", ""})},
      {"tokens.of(list.of(1))", Error::TypeMismatch},
      {"tokens.of(b\"a\")", Error::TypeMismatch},
      {"tokens.join(\"a\")", Error::TypeMismatch},
      {"tokens.of()", Error::InvalidArgument},
  };
  expect(cases);
}

TEST_F(TokenBuiltins, MatchCapturesByKind) {
  const Case cases[] = {
      {"match.tokens(\"r:name =, v:int\", \"r1, 0x10\")",
       matched(true, {{"r", Value::string("r1")}, {"v", Value::integer(16)}})},
      {"match.tokens(\"=push args:tokens\", \"push (a, b)\")",
       matched(true, {{"args", texts({"(", "a", ",", "b", ")"})}})},
      {"match.tokens(\"=push args:tokens\", \"push ( a\")", matched(false)},
      {"match.tokens(\"=push args:tokens\", \"push\")", matched(true, {{"args", texts({})}})},
      {"match.tokens(\"a:tokens =, b:tokens\", \"x , y , z\")",
       matched(true, {{"a", texts({"x"})}, {"b", texts({"y", ",", "z"})}})},
      {"match.tokens(\"a:tokens\", \"( ] )\")", matched(false)},
      {"match.tokens(\"a:token\", \"x y\")", matched(false)},
      {"match.tokens(\"v:int\", \"12ab\")", matched(false)},
      {"match.tokens(\"s:quoted ==\", \"'x' =\")", matched(true, {{"s", Value::string("x")}})},
      {"match.tokens(list.of(\"n:name\", \"=+\"), list.of(\"_a1\", \"+\"))",
       matched(true, {{"n", Value::string("_a1")}})},
      {"match.tokens(\"\", \"\")", matched(true)},
  };
  expect(cases);
}

TEST_F(TokenBuiltins, BadPatternsAreErrorsNotMismatches) {
  const std::string too_many = "match.tokens(\"" + repeated("=a ", 65) + "\", 1)";
  const std::string too_many_before_kind = too_many.substr(0, too_many.size() - 2) + "b\"\")";
  const std::string many_tokens = "match.tokens(\"x:tokens\", \"" + repeated("+", 257) + "\")";
  const Case cases[] = {
      {too_many.c_str(), Error::InvalidArgument},
      {many_tokens.c_str(), Error::InvalidArgument},
      {"match.tokens(\"x:number\", \"1\")", Error::InvalidArgument},
      {"match.tokens(\"1x:int\", \"1\")", Error::InvalidArgument},
      {"match.tokens(\"x:\", \"1\")", Error::InvalidArgument},
      {"match.tokens(\"x\", \"1\")", Error::InvalidArgument},
      {"match.tokens(\"=\", \"=\")", Error::InvalidArgument},
      {"match.tokens(\"a:int a:token\", \"1 2\")", Error::InvalidArgument},
      {"match.tokens(list.of(\"\"), \"\")", Error::InvalidArgument},
      {"match.tokens(\"a:int\", \"'open\")", Error::InvalidArgument},
      {"match.tokens(1, \"1\")", Error::TypeMismatch},
      {"match.tokens(\"a:int\", 1)", Error::TypeMismatch},
      {"match.tokens(\"a:int\")", Error::InvalidArgument},
      // Too many words are found before the input's kind is looked at.
      {too_many_before_kind.c_str(), Error::InvalidArgument},
  };
  expect(cases);
}

// Adjacent span captures over an input that never matches try every split;
// the budget stops them.
TEST_F(TokenBuiltins, StepBudgetStopsPathologicalPatterns) {
  const std::string text = "match.tokens(\"a:tokens b:tokens c:tokens d:tokens =z\", \"" + repeated("x ", 40) + "\")";
  EXPECT_EQ(errorOf(qovrin::testing::evaluateText(text, context)), Error::InvalidArgument);
}

// A match of n literal items takes n + 1 steps; the budget allows exactly
// kMaxMatchSteps of them.
TEST(MatchFrom, BudgetCountsEveryStep) {
  using frontend::token_match::kMaxMatchSteps;
  const std::string_view words[] = {"=a", "=b"};
  const auto items = frontend::token_match::compilePattern(words);
  ASSERT_TRUE(items);
  const std::string_view tokens[] = {"a", "b"};
  for (const std::uint32_t start : {kMaxMatchSteps - 3, kMaxMatchSteps - 2}) {
    std::vector<frontend::token_match::Capture> captures;
    std::uint32_t steps = start;
    const auto result = frontend::token_match::matchFrom(*items, tokens, 0, 0, captures, steps);
    if (start + 3 <= kMaxMatchSteps) {
      EXPECT_TRUE(result.value());
    } else {
      EXPECT_EQ(errorOf(result), Error::InvalidArgument);
    }
  }
}

}  // namespace
