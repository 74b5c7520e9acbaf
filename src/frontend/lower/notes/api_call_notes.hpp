#pragma once
// Notes on statement calls such as db, emit.u32, pad_to or rb: a value too
// wide for its field, padding or a reservation that cannot go where the
// output stands, a statement function or built-in call given the wrong number
// of arguments.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/lower/notes/failure_asking.hpp"

namespace frontend::lower::api_call_notes {

// A value of a data or store call that does not fit its field.
std::vector<diagnostic::Note> integerNotes(const failure_asking::Asking& asking, const ast::Statement& statement);

// Whether the call pads or reserves, so that placementNotes speak of it.
bool reservesOrPads(std::string_view name);
std::vector<diagnostic::Note> placementNotes(const failure_asking::Asking& asking, const ast::ApiCallStatement& call);

// A call given a number of arguments it does not take: a statement function
// of the source with where it is defined, else a built-in call with its form.
std::vector<diagnostic::Note> arityNotes(const failure_asking::Asking& asking, const ast::ApiCallStatement& call);

}  // namespace frontend::lower::api_call_notes
