#pragma once
// Notes on lines that failed to parse (a block left open, a stray else or
// '}', a comment where none may stand, a number that reads as none, a call of
// a name no builtin has) and on instruction names written as calls.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "frontend/syntax/source_location.hpp"
#include "frontend/values/target.hpp"

namespace frontend::lower::line_notes {

// The note for a source that failed to parse at location: which block has
// no closing '}', which dotted call names no builtin, what a line that is no
// statement got wrong.
std::vector<diagnostic::Note> parseNotes(const module::Module& module, const SourceLocation& location,
                                         qovrin::Error error);

// The note beside "unknown call" for a call that names one of the target's
// instructions: the '(' after its name made the line a call.
std::vector<diagnostic::Note> unknownCallNotes(const ast::ApiCallStatement& call, target::Target target);

}  // namespace frontend::lower::line_notes
