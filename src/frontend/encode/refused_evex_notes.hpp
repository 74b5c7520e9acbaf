#pragma once
// Why the encoder refused an x86 line whose form it had matched: the bytes
// would be ones the processor refuses or reads as another operand. Asked
// only after the line failed.

#include <optional>
#include <string>

#include "frontend/encode/x86_line.hpp"
#include "frontend/module/fragment.hpp"

namespace frontend::pass {

// {z} or a gather without a mask register, a complex multiply whose
// destination is a source, a qword integer outside 64-bit code; none for
// a line refused for anything else.
std::optional<std::string> x86UnrunnableFormNote(const fragment::Instruction& line,
                                                 const x86_line::ParsedInstruction& parsed);

}  // namespace frontend::pass
