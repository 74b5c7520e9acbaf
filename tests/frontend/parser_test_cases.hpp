#pragma once
// Table rows shared by the parser tests: a source and its expected outcome.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "statement_shape.hpp"

namespace statement_shape {

struct ShapeCase {
  const char* source;
  const char* expected;  // the statements' shape, or "!ErrorName@line"
};

inline void expectShapes(std::initializer_list<ShapeCase> cases) {
  for (const ShapeCase& c : cases) EXPECT_EQ(describe(c.source), c.expected) << "source:\n" << c.source;
}

// The error name of a failed result, or "ok".
template <typename T>
std::string failure(const qovrin::Result<T>& result) {
  return result ? "ok" : std::string(qovrin::errorName(result.error()));
}

}  // namespace statement_shape
