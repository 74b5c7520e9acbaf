#pragma once
// What an encoder can say about the part of a line it refused: an unknown
// mnemonic, a count of operands no form takes, a value too wide for its
// field. Asked only after the line failed, so the line is read again.

#include <optional>
#include <string>

#include "frontend/module/fragment.hpp"

namespace frontend::pass {

// The note for the line's failure; none when the encoder knows no more than
// its error.
std::optional<std::string> encodeFailureNote(const fragment::Instruction& line);

}  // namespace frontend::pass
