#pragma once
// Register facts an encoding needs: the value that goes into ModRM, SIB,
// REX, VEX or EVEX fields, and the REX bits a register asks for.

#include <cstdint>

#include "common/error.hpp"
#include "x86_encoder/operand.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::regs {

// The table row of a register id; InvalidRegisterOperand outside 1-344.
qovrin::Result<const tables::RegisterRow*> registerRow(std::int32_t id) noexcept;

// The register value (0-31) of a register operand, or the value of an
// immediate operand, which must fit a signed 32-bit integer.
qovrin::Result<std::int32_t> regval(const api::X86Operand& operand) noexcept;

}  // namespace x86_encoder::regs

namespace x86_encoder::ea {

// Field masks of rexflags: each keeps only its own letter.
inline constexpr std::uint32_t kRegFieldMask = 0x440C4;
inline constexpr std::uint32_t kBaseFieldMask = 0x110C1;
inline constexpr std::uint32_t kIndexFieldMask = 0x220C2;

std::uint32_t rexflags(std::int32_t value, std::uint64_t class_flags, std::uint32_t mask) noexcept;

// REX bits of a register operand; nothing for any other operand.
std::uint32_t opRexflags(const api::X86Operand& operand, std::uint32_t mask) noexcept;

constexpr std::uint8_t genModrm(unsigned mod, unsigned reg, unsigned rm) noexcept {
  return static_cast<std::uint8_t>(mod * 64 + (reg & 7) * 8 + (rm & 7));
}

}  // namespace x86_encoder::ea
