#pragma once
// The note for a name that a source of the run defined as a macro or a
// statement function, on a line that did not call it: a project's [include]
// files share their labels and values with the source, but not these; a
// source's own are called with '()' (a function) or after their definition
// (a macro).

#include <optional>
#include <string_view>

#include "frontend/module/module.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::pass {

// "'twice' is a macro of the [include] file 'lib.qov', and ..."; none when no
// earlier source defined the name.
std::optional<diagnostic::Note> sourceOnlyNote(const module::Module& module, std::string_view name,
                                               const SourceLocation& line);

// The same for an instruction line whose first word is such a name, the
// line's own definitions included.
std::optional<diagnostic::Note> sourceOnlyLineNote(const module::Module& module, std::string_view text,
                                                   const SourceLocation& line);

}  // namespace frontend::pass
