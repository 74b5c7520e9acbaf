#pragma once
// The general-purpose registers by size: what the notes of refused x86 lines
// need to name the same register in another size.

#include <cstdint>

#include "x86_encoder/tables.hpp"

namespace frontend::pass {

// The size flag of a general-purpose register (byte, word, dword or qword);
// 0 for any other register.
std::uint64_t generalPurposeSize(const x86_encoder::tables::RegisterRow& row) noexcept;

// The general-purpose register of the same number in another size, never a
// high byte register; none when the size has no such register.
const x86_encoder::tables::RegisterRow* resized(const x86_encoder::tables::RegisterRow& row, std::uint64_t size);

}  // namespace frontend::pass
