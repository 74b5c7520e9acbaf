#pragma once
// Notes on names: one nothing defines (a label further down, a macro operand
// that names nothing, a statement function called for a value), and one
// defined twice.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/lower/notes/failure_asking.hpp"

namespace frontend::lower::name_notes {

// The notes for UndefinedSymbol among `nodes`; with name_shown the error
// itself already names the undefined name.
std::vector<diagnostic::Note> undefinedNotes(const failure_asking::Asking& asking, const SourceLocation& location,
                                             const std::vector<const expr::Node*>& nodes, bool name_shown = false);

// A macro operand among `nodes` that stands for a name nothing defines.
std::vector<diagnostic::Note> operandNotes(const failure_asking::Asking& asking,
                                           const std::vector<const expr::Node*>& nodes);

// A label, let or const defined a second time, with where it was first.
std::vector<diagnostic::Note> duplicateNotes(const failure_asking::Asking& asking, const ast::Statement& statement);

// A macro of the same name and operand count defined a second time.
std::vector<diagnostic::Note> duplicateMacroNotes(const failure_asking::Asking& asking,
                                                  const ast::MacroStatement& macro);

}  // namespace frontend::lower::name_notes
