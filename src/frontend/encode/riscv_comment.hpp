#pragma once
// Instructions hidden in the comment that ends a RISC-V line. The encoder
// reads a line up to its first ';' or '#', where GNU as and llvm-mc take a
// ';' as the end of one instruction and the start of the next: a second
// instruction written so is left out, and the line warns about it.

#include <string_view>
#include <vector>

namespace frontend::riscv_comment {

// The pieces of a comment (from its mark on), cut at each further ';' or
// '#', that read as instructions for the XLEN, trimmed and in order; views
// into `comment`. A
// piece counts when each operand is one register, number, name or
// expression, as in a line of code: "j loop" counts, while prose such as
// "add one", "loop counter" or "j back to the top" does not. Instructions
// GNU as reads that have no row here (li, la, call, tail, not, fence without
// operands) count when their operands take that shape too.
std::vector<std::string_view> commentedInstructions(std::string_view comment, unsigned xlen);

// False when no piece of the comment can read as an instruction, as most
// comments are prose: one pass over its bytes, with no lookup.
bool mayHoldInstructions(std::string_view comment) noexcept;

// The warning for a comment that holds instructions: it names the mark (';'
// or '#') that begins it.
std::string_view commentWarning(std::string_view comment) noexcept;

}  // namespace frontend::riscv_comment
