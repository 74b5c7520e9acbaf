#pragma once
// The note for a data call given a value of a kind it does not write: db and
// its siblings write integers, and db alone writes text as well.

#include <optional>
#include <string>

#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/syntax/ast.hpp"

namespace frontend::lower::data_kind_notes {

// "true is a boolean, and db writes integers and text: write 1 or 0";
// "'ab' is text, and only db writes text: write db('ab')"; none for any
// other call or when every argument is of a kind it writes.
std::optional<std::string> kindNote(const ast::Statement& statement, const expr::EvaluationContext& evaluation);

}  // namespace frontend::lower::data_kind_notes
