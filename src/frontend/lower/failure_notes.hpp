#pragma once
// Notes that name what a failed statement was about: the undefined name, the
// label defined twice, the file not found, the value too wide, the builtin
// that refused its arguments, the block left open. They follow the statement's
// "lowering failed: <Name>" error; the error line itself never changes.

#include <vector>

#include "common/error.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/source_location.hpp"
#include "frontend/values/target.hpp"

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

// The note for a source that failed to parse at location: which block has
// no closing '}', which dotted call names no builtin, what a line that is no
// statement got wrong.
std::vector<diagnostic::Note> parseNotes(const module::Module& module, const SourceLocation& location,
                                         qovrin::Error error);

// The note beside "unknown call" for a call that names one of the target's
// instructions: the '(' after its name made the line a call.
std::vector<diagnostic::Note> unknownCallNotes(const ast::ApiCallStatement& call, target::Target target);

}  // namespace frontend::lower::failure_notes
