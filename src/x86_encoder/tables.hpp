#pragma once
// Constant x86 tables generated at build time from the public instruction
// database: mnemonics, instruction templates, their byte-code programs and
// flag pools, registers and operand qualifier words.

#include <cstdint>
#include <span>
#include <string_view>

namespace x86_encoder::tables {

struct RegisterRow {
  std::string_view tag;   // "R_AH"
  std::string_view name;  // "ah", lower case
  std::uint64_t flags;    // operand-class word
  std::uint32_t number;   // hardware register number 0-31
  std::int16_t id;        // row + 1
};

// The 344 registers, sorted by name with digit runs compared as numbers.
std::span<const RegisterRow> registers() noexcept;

// First register whose name equals text, ASCII case ignored; null when none.
const RegisterRow* findRegister(std::string_view text) noexcept;

// Register with the given id (1-344); null when out of range.
const RegisterRow* registerById(int id) noexcept;

struct OperandQualifier {
  std::string_view word;  // "strict", "byte", ...
  std::uint64_t flag;     // OR-ed into the operand's class word
};

std::span<const OperandQualifier> operandQualifiers() noexcept;

}  // namespace x86_encoder::tables
