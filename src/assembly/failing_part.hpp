#pragma once
// The parts of a finalizer statement that failed, and the part of an
// expression to blame: the innermost one that fails while its own parts
// evaluate. Only failure paths ask, so the search may evaluate parts again.

#include <vector>

#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/expr.hpp"

namespace assembly {

// A statement's call, when it is one, and its expression trees, as the run
// parsed them; a text that does not parse is left out.
struct StatementParts {
  const frontend::ast::ApiCallStatement* call = nullptr;
  std::vector<const frontend::expr::Node*> trees;
};

// The innermost failing part of `tree` under `context`: an operand, a link
// of a chain, an argument of a builtin call; the tree itself when no part
// of it fails on its own.
const frontend::expr::Node& innermostFailingPart(const frontend::expr::Node& tree,
                                                 const frontend::expr::EvaluationContext& context);

}  // namespace assembly
