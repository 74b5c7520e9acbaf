#pragma once
// The note for a 'fn' header that does not parse as one: a value function
// given a 'let' parameter, which would write back into its caller; and for
// a body line that gives its value to nobody.

#include <optional>
#include <string>
#include <string_view>

#include "frontend/syntax/ast.hpp"

namespace frontend::lower::function_header_notes {

// `line` is the trimmed header line; none when nothing in it is known to be wrong.
std::optional<std::string> headerNote(std::string_view line);

// A line of a value function's body written as an expression alone ("x + 1"),
// which reads as an instruction and so as a side effect; none for any other
// statement.
std::optional<std::string> bodyLineNote(const ast::Statement& statement);

}  // namespace frontend::lower::function_header_notes
