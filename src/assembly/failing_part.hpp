#pragma once
// The part of an expression to blame when it fails: the innermost one that
// fails while its own parts evaluate. Only failure paths ask, so the search
// may evaluate parts again.

#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/syntax/expr.hpp"

namespace assembly {

// The innermost failing part of `tree` under `context`: an operand, a link
// of a chain, an argument of a builtin call; the tree itself when no part
// of it fails on its own.
const frontend::expr::Node& innermostFailingPart(const frontend::expr::Node& tree,
                                                 const frontend::expr::EvaluationContext& context);

}  // namespace assembly
