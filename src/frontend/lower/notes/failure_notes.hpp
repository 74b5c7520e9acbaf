#pragma once
// The notes beside a failed statement's "lowering failed: <Name>" error,
// chosen by the error; the error line itself never changes. Each kind of
// failure has a notes file of its own (names, files, expressions,
// declarations, API calls, blocks); lines that failed to parse have
// line_notes.

#include <vector>

#include "common/error.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::lower::failure_notes {

// The notes for `error` of `statement`, asked right after it failed, while
// its scopes are still open; empty when nothing more can be told. Parts of
// the statement are evaluated again to find the subject.
std::vector<diagnostic::Note> statementNotes(module::Module& module, context::LowerContext& context,
                                             const contracts::ActiveOutput& cursor, const ast::Statement& statement,
                                             qovrin::Error error);

// The notes beside "undefined name in this expression" for an expression
// of the statement at location.
std::vector<diagnostic::Note> undefinedNameNotes(module::Module& module, context::LowerContext& context,
                                                 const contracts::ActiveOutput& cursor, const SourceLocation& location,
                                                 const expr::Node& expression);

}  // namespace frontend::lower::failure_notes
