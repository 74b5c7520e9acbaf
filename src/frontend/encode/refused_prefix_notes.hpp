#pragma once
// What a repeat word (rep, repe, repne, xacquire, xrelease, bnd, nobnd)
// would have changed in the x86 instruction it was refused before, told from
// the form the instruction takes without it. Asked only after the line failed.

#include <optional>
#include <string>

#include "frontend/encode/x86_line.hpp"
#include "frontend/module/fragment.hpp"

namespace frontend::pass {

// The F2 or F3 the opcode already carries or takes none of, the VEX or EVEX
// prefix that has no room for one, or the near branches bnd goes with; none
// when the line has no repeat word or the instruction without it is refused too.
std::optional<std::string> x86RepeatWordNote(const fragment::Instruction& line,
                                             const x86_line::ParsedInstruction& parsed);

// A line of prefix words alone, whose one byte would leave the others out.
std::optional<std::string> x86LonePrefixNote(const fragment::Instruction& line,
                                             const x86_line::ParsedInstruction& parsed);

// A size or segment word written before an instruction on its line ("fs mov
// eax, [eax]", "o16 push 1"), which the line reads as its mnemonic.
std::optional<std::string> x86WordBeforeInstructionNote(const fragment::Instruction& line,
                                                        const x86_line::ParsedInstruction& parsed);

}  // namespace frontend::pass
