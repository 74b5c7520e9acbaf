#pragma once
// Instructions hidden in the comment that ends a RISC-V line. The encoder
// reads a line up to its first ';' or '#', where GNU as and llvm-mc take a
// ';' as the end of one instruction and the start of the next: a second
// instruction written so is left out, and the line warns about it.

#include <string_view>
#include <vector>

namespace frontend::riscv_comment {

// The comment's pieces, cut at each further ';' or '#', that read as
// instructions for the XLEN, trimmed and in order; views into `text`. A
// piece counts when each operand is one register, number, name or
// expression, as in a line of code: "j loop" counts, while prose such as
// "add one", "loop counter" or "j back to the top" does not. Instructions
// GNU as reads that have no row here (li, la, call, tail, not, fence without
// operands) count when their operands take that shape too.
std::vector<std::string_view> commentedInstructions(std::string_view text, unsigned xlen);

// The warning for a line whose comment holds instructions: it names the
// mark (';' or '#') that began the comment.
std::string_view commentWarning(std::string_view text) noexcept;

}  // namespace frontend::riscv_comment
