#pragma once
// What an x86 line the encoder refused got wrong, when its text shows it: a
// comment the line does not end at, a name the assembler cannot have, a
// register that does not exist or cannot address memory, a constant below
// zero, operands of two sizes, a form or prefix word another mode has, or a
// prefix word given twice. Asked only after
// the line failed.

#include <optional>
#include <string>

#include "frontend/encode/x86_line.hpp"
#include "frontend/module/fragment.hpp"

namespace frontend::pass {

// A refusal found before the mnemonic is looked at: a ';' or '#' comment.
std::optional<std::string> x86CommentNote(const fragment::Instruction& line);

// The first word, when no instruction has that name: a prefix word given
// twice, or one that stands only in another mode.
std::optional<std::string> x86PrefixNote(const fragment::Instruction& line, const x86_line::ParsedInstruction& parsed);

// The line's operands, as parsed, after its mnemonic was found and its
// operand count is one the mnemonic takes.
std::optional<std::string> x86OperandNote(const fragment::Instruction& line, const x86_line::ParsedInstruction& parsed);

}  // namespace frontend::pass
