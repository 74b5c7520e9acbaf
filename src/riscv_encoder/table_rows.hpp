#pragma once
// Row layout of the generated RISC-V instruction table. The generated header
// declares the table with these types, so the layout lives apart from it.

#include <cstdint>
#include <span>
#include <string_view>

#include "riscv_encoder/field_values.hpp"

namespace riscv_encoder {

struct RiscvFieldSpec {
  std::string_view name;
  std::uint8_t low_bit;
  std::uint8_t width;
  std::uint8_t slot;  // encode::Slot that holds the value, encode::kNoSlot when none does
};

consteval RiscvFieldSpec field(std::string_view name, std::uint8_t low_bit, std::uint8_t width) {
  return {name, low_bit, width, encode::slotOf(name)};
}

// Row flag: a vector multiply-add, written vd, vs1|rs1, vs2 although its
// fields list vs2 before vs1|rs1.
inline constexpr std::uint8_t kRowMultiplyAdd = 1;

struct RiscvInstructionRow {
  std::string_view mnemonic;       // lower case, "." and "-" written as "_"
  std::string_view unique_name;    // the database's name ("slli_rv32" for the RV32 row of slli)
  std::string_view extension_tag;  // the database file ("rv_i", "rv64_zba", ...)
  std::span<const RiscvFieldSpec> fields;
  std::uint32_t match;
  std::uint32_t mask;
  std::uint8_t format_class;
  std::uint8_t kind;  // operand-syntax kind, 1..100
  std::uint8_t width;  // 16 or 32 bits
  std::uint8_t xlen_min;
  std::uint8_t xlen_max;
  std::uint8_t flags;
};

// The adjacent rows of one mnemonic in the sorted table; no rows in an empty
// slot of the mnemonic index.
struct MnemonicRows {
  std::uint16_t first;
  std::uint16_t count;
};

}  // namespace riscv_encoder
