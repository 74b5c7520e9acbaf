#pragma once
// The note for a name that an earlier source of the run defined as a macro
// or a statement function: a project's [include] files share their labels
// and values with the source, but not these.

#include <optional>
#include <string>
#include <string_view>

#include "frontend/module/module.hpp"

namespace frontend::pass {

// "'twice' is a macro of the [include] file 'lib.qov', and ..."; none when no
// earlier source defined the name.
std::optional<std::string> sourceOnlyNote(const module::Module& module, std::string_view name);

// The same for the first word of an instruction line.
std::optional<std::string> sourceOnlyLineNote(const module::Module& module, std::string_view line);

}  // namespace frontend::pass
