#include "riscv_encoder/tables.hpp"

#include <algorithm>

namespace riscv_encoder::tables {

// The table is sorted by mnemonic, so a binary search finds the same first
// row as a scan from the top.
std::span<const RiscvInstructionRow> rowsOf(std::string_view mnemonic) noexcept {
  const auto [first, last] = std::ranges::equal_range(instructions, mnemonic, {}, &RiscvInstructionRow::mnemonic);
  return {first, last};
}

qovrin::Result<const RiscvInstructionRow*> findInstruction(std::string_view mnemonic, unsigned xlen) noexcept {
  const auto rows = rowsOf(mnemonic);
  if (rows.empty()) return qovrin::fail(qovrin::Error::UnsupportedInstruction);
  for (const RiscvInstructionRow& row : rows)
    if (row.xlen_min <= xlen && xlen <= row.xlen_max) return &row;
  return qovrin::fail(qovrin::Error::UnsupportedXLen);
}

const RiscvInstructionRow* preLookup(std::string_view mnemonic) noexcept {
  const auto rows = rowsOf(mnemonic);
  if (rows.empty()) return nullptr;
  for (const RiscvInstructionRow& row : rows)
    if (row.xlen_max >= 64) return &row;
  return &rows.front();
}

}  // namespace riscv_encoder::tables
