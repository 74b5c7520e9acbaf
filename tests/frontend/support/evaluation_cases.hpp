#pragma once
// Table-driven checks of expressions: each case's text is parsed, evaluated
// in one context and compared with the expected value or error.

#include <gtest/gtest.h>

#include <span>
#include <string_view>
#include <variant>

#include "common/error_of.hpp"
#include "frontend/evaluate/expr_eval.hpp"

namespace qovrin::testing {

struct EvaluationCase {
  const char* text;
  std::variant<frontend::value::Value, Error> expected;
};

inline frontend::expr::Node parseExpression(std::string_view text) {
  auto node = frontend::expr::parseOwned(text);
  EXPECT_TRUE(node) << text;
  return node ? std::move(*node) : frontend::expr::Node{};
}

inline Result<frontend::value::Value> evaluateText(std::string_view text,
                                                   const frontend::expr::EvaluationContext& context) {
  return frontend::expr::evaluateValue(parseExpression(text), context);
}

inline void expectEvaluations(std::span<const EvaluationCase> cases, const frontend::expr::EvaluationContext& context) {
  for (const auto& test : cases) {
    const auto result = evaluateText(test.text, context);
    if (const auto* error = std::get_if<Error>(&test.expected)) {
      ASSERT_FALSE(result) << test.text;
      EXPECT_EQ(errorOf(result), *error) << test.text << " gave " << errorName(result.error());
      continue;
    }
    ASSERT_TRUE(result) << test.text << " failed with " << errorName(result.error());
    EXPECT_TRUE(frontend::value::valuesEqual(*result, std::get<frontend::value::Value>(test.expected))) << test.text;
  }
}

}  // namespace qovrin::testing
