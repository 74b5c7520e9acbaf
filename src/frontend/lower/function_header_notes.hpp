#pragma once
// The note for a 'fn' header that does not parse as one: a value function
// given a 'let' parameter, which would write back into its caller.

#include <optional>
#include <string>
#include <string_view>

namespace frontend::lower::function_header_notes {

// `line` is the trimmed header line; none when nothing in it is known to be wrong.
std::optional<std::string> headerNote(std::string_view line);

}  // namespace frontend::lower::function_header_notes
