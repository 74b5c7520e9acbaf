#include "riscv_encoder/tables.hpp"

#include <array>

#include "common/ascii.hpp"
#include "riscv_encoder/source.hpp"

namespace riscv_encoder::tables {

namespace {

// Must agree with mnemonic_hash in tools/gen_riscv_tables.py.
constexpr std::uint32_t mnemonicHash(std::string_view mnemonic) noexcept {
  std::uint32_t value = kMnemonicHashBasis;
  for (const char c : mnemonic) value = (value ^ static_cast<std::uint8_t>(c)) * kMnemonicHashPrime;
  return value ^ (value >> 16);
}

}  // namespace

// Every mnemonic went into the index once, with the run of its rows, so the
// first row found is the first a scan from the top would meet.
std::span<const RiscvInstructionRow> rowsOf(std::string_view mnemonic) noexcept {
  static_assert((kMnemonicSlotCount & (kMnemonicSlotCount - 1)) == 0);
  for (std::size_t slot = mnemonicHash(mnemonic) & (kMnemonicSlotCount - 1);;
       slot = (slot + 1) & (kMnemonicSlotCount - 1)) {
    const MnemonicRows rows = mnemonic_slots[slot];
    if (rows.count == 0) return {};
    if (instructions[rows.first].mnemonic == mnemonic) return {instructions.data() + rows.first, rows.count};
  }
}

std::span<const RiscvInstructionRow> rowsOfWritten(std::string_view written) noexcept {
  if (written.size() > source::kMaxMnemonicLength) return {};
  std::array<char, source::kMaxMnemonicLength> buffer;
  for (std::size_t index = 0; index < written.size(); ++index) {
    const char lower = qovrin::lowerAscii(written[index]);
    buffer[index] = lower == '.' || lower == '-' ? '_' : lower;
  }
  return rowsOf({buffer.data(), written.size()});
}

qovrin::Result<const RiscvInstructionRow*> findInstruction(std::span<const RiscvInstructionRow> rows,
                                                           unsigned xlen) noexcept {
  if (rows.empty()) return qovrin::fail(qovrin::Error::UnsupportedInstruction);
  for (const RiscvInstructionRow& row : rows)
    if (row.xlen_min <= xlen && xlen <= row.xlen_max) return &row;
  return qovrin::fail(qovrin::Error::UnsupportedXLen);
}

qovrin::Result<const RiscvInstructionRow*> findInstruction(std::string_view mnemonic, unsigned xlen) noexcept {
  return findInstruction(rowsOf(mnemonic), xlen);
}

const RiscvInstructionRow* preLookup(std::span<const RiscvInstructionRow> rows) noexcept {
  if (rows.empty()) return nullptr;
  for (const RiscvInstructionRow& row : rows)
    if (row.xlen_max >= 64) return &row;
  return &rows.front();
}

const RiscvInstructionRow* preLookup(std::string_view mnemonic) noexcept { return preLookup(rowsOf(mnemonic)); }

}  // namespace riscv_encoder::tables
