#pragma once
// Notes on files: a source, include or builtin path that cannot be read
// (and the folders searched), a window outside its file, a JSON or TOML
// document and where its reading stopped, a digest library that would not
// load, and a source that includes itself.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/lower/notes/failure_asking.hpp"

namespace frontend::lower::file_notes {

std::vector<diagnostic::Note> fileNotes(const failure_asking::Asking& asking, const ast::Statement& statement,
                                        const std::vector<const expr::Node*>& nodes);
std::vector<diagnostic::Note> windowNotes(const failure_asking::Asking& asking, const ast::Statement& statement,
                                          const std::vector<const expr::Node*>& nodes);
std::vector<diagnostic::Note> documentNotes(const failure_asking::Asking& asking,
                                            const std::vector<const expr::Node*>& nodes);
std::vector<diagnostic::Note> digestNotes(const failure_asking::Asking& asking,
                                          const std::vector<const expr::Node*>& nodes);
std::vector<diagnostic::Note> cycleNotes(const failure_asking::Asking& asking, const ast::Statement& statement);

}  // namespace frontend::lower::file_notes
