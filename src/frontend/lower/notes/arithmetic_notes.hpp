#pragma once
// Why an integer operation of the meta language failed: meta integers are
// unsigned 64-bit words, so a subtraction below zero and a result past 2^64
// fail. Told alike wherever the operation ran, in lowering or in a defer
// block.

#include <optional>
#include <string>

#include "frontend/syntax/expr.hpp"
#include "frontend/values/value.hpp"

namespace frontend::lower::arithmetic_notes {

// "integer underflow: meta integers are unsigned (a - b is 1 - 2)" for the
// binary `operation` whose operands evaluated to `left` and `right`; none
// when they are not two integers.
std::optional<std::string> integerRangeNote(const expr::Node& operation, const value::Value& left,
                                            const value::Value& right);

// An expression as written, without the parentheses an operation renders in.
std::string expressionText(const expr::Node& expression);

}  // namespace frontend::lower::arithmetic_notes
