#pragma once
// Notes on declarations and assignments: a name that cannot be assigned,
// an annotation that names no type, a struct literal against its struct,
// a struct field of an unknown type.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/lower/notes/failure_asking.hpp"

namespace frontend::lower::declaration_notes {

std::vector<diagnostic::Note> assignmentNotes(const failure_asking::Asking& asking,
                                              const ast::AssignmentStatement& assignment);
std::vector<diagnostic::Note> annotationNotes(const failure_asking::Asking& asking,
                                              const ast::ValueDeclarationStatement& declaration);
std::vector<diagnostic::Note> structLiteralNotes(const failure_asking::Asking& asking, const ast::Statement& statement);
std::vector<diagnostic::Note> fieldTypeNotes(const failure_asking::Asking& asking,
                                             const ast::StructDeclarationStatement& declaration);

}  // namespace frontend::lower::declaration_notes
