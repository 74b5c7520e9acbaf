#pragma once
// The note for an instruction text that leaves a string open. A line of the
// source with an open quote is refused before it is encoded, but the text an
// isa call hands over is a string's content, read only here.

#include <optional>
#include <string>
#include <string_view>

#include "frontend/values/target.hpp"

namespace frontend::pass {

// "the string opened at character 9 of 'mov al, 'a' is not closed"; none when
// every quote of the text closes, as the target reads quotes.
std::optional<std::string> openQuoteNote(std::string_view text, target::Target target);

}  // namespace frontend::pass
