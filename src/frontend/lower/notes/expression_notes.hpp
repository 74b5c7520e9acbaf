#pragma once
// Notes on expressions that failed: an operation out of the 64-bit range or
// on kinds it does not take, a builtin given the wrong number or kind of
// arguments, a map without the key, an operand slice outside its operand.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/lower/notes/failure_asking.hpp"

namespace frontend::lower::expression_notes {

std::vector<diagnostic::Note> expressionNotes(const failure_asking::Asking& asking,
                                              const std::vector<const expr::Node*>& nodes);

// A builtin that refused what it was given (InvalidApiArgument).
std::vector<diagnostic::Note> argumentNotes(const failure_asking::Asking& asking,
                                            const std::vector<const expr::Node*>& nodes);

}  // namespace frontend::lower::expression_notes
