#pragma once
// Expressions written back as source text, for messages and for blocks that
// run after lowering.

#include <string>

#include "frontend/expr.hpp"

namespace frontend::lower::deferred {

// Every unary and binary operation is parenthesised, so the text reads back
// to the same tree: "(nope + 1)".
std::string renderExpressionSource(const expr::Node& node);

}  // namespace frontend::lower::deferred
