#pragma once
// Lookups in the generated instruction table by normalised mnemonic.

#include <cstdint>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "riscv_encoder/generated_tables.hpp"
#include "riscv_encoder/table_rows.hpp"

namespace riscv_encoder::tables {

// Every row of the mnemonic, in table order (empty when there is none).
std::span<const RiscvInstructionRow> rowsOf(std::string_view mnemonic) noexcept;

// rowsOf the mnemonic as a line writes it ("FADD.S", "c.addi"): letters in
// lower case, "." and "-" read as "_".
std::span<const RiscvInstructionRow> rowsOfWritten(std::string_view written) noexcept;

// The first row of the mnemonic that serves the XLEN; UnsupportedXLen when the
// mnemonic has rows only for the other XLEN, UnsupportedInstruction when none.
// The span form takes the mnemonic's rows as rowsOf gives them.
qovrin::Result<const RiscvInstructionRow*> findInstruction(std::string_view mnemonic, unsigned xlen) noexcept;
qovrin::Result<const RiscvInstructionRow*> findInstruction(std::span<const RiscvInstructionRow> rows,
                                                           unsigned xlen) noexcept;

// The row that decides how operand text is split before the XLEN is applied:
// the first that serves XLEN 64, else the first of the mnemonic.
const RiscvInstructionRow* preLookup(std::string_view mnemonic) noexcept;
const RiscvInstructionRow* preLookup(std::span<const RiscvInstructionRow> rows) noexcept;

}  // namespace riscv_encoder::tables
