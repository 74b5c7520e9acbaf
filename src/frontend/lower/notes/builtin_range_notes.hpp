#pragma once
// Notes on a value builtin that refused what its arguments hold rather than
// their number: a list index, start or count, or a byte offset, past the end;
// a builtin that reads the finished image, asked before there is one.

#include <optional>
#include <string>

#include "frontend/lower/notes/failure_asking.hpp"
#include "frontend/syntax/expr.hpp"

namespace frontend::lower::builtin_range_notes {

// "'list.slice' takes (list, start, count): 1 + 3 passes the end of a
// 3-element list"; none when the call is none of these or its arguments
// lie inside.
std::optional<std::string> rangeNote(const failure_asking::Asking& asking, const expr::Node& call);

// "'region_file_offset' takes (place) and reads the finished image, which
// only a 'defer' block sees"; none for a builtin that needs no image.
std::optional<std::string> imageNote(const expr::Node& call);

}  // namespace frontend::lower::builtin_range_notes
