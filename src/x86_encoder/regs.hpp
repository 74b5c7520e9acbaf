#pragma once
// Register facts an encoding needs: the value that goes into ModRM, SIB,
// REX, VEX or EVEX fields, and the REX bits a register asks for. Sizing and
// code generation ask for them several times per instruction, so they are
// defined here, where every caller can inline them.

#include <cstdint>
#include <limits>

#include "common/error.hpp"
#include "x86_encoder/instruction.hpp"
#include "x86_encoder/operand.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::regs {

// The table row of a register id; InvalidRegisterOperand outside 1-344.
inline qovrin::Result<const tables::RegisterRow*> registerRow(std::int32_t id) noexcept {
  const tables::RegisterRow* row = tables::registerById(id);
  if (row == nullptr) return qovrin::fail(qovrin::Error::InvalidRegisterOperand);
  return row;
}

// The register value (0-31) of a register operand, or the value of an
// immediate operand, which must fit a signed 32-bit integer.
inline qovrin::Result<std::int32_t> regval(const api::X86Operand& operand) noexcept {
  if (operand.kind == api::OperandKind::immediate) {
    if (operand.value < std::numeric_limits<std::int32_t>::min() ||
        operand.value > std::numeric_limits<std::int32_t>::max())
      return qovrin::fail(qovrin::Error::InvalidImmediateValue);
    return static_cast<std::int32_t>(operand.value);
  }
  const auto row = registerRow(operand.base);
  if (!row) return qovrin::fail(row.error());
  return static_cast<std::int32_t>((*row)->number);
}

}  // namespace x86_encoder::regs

namespace x86_encoder::ea {

// Field masks of rexflags: each keeps only its own letter.
inline constexpr std::uint32_t kRegFieldMask = 0x440C4;
inline constexpr std::uint32_t kBaseFieldMask = 0x110C1;
inline constexpr std::uint32_t kIndexFieldMask = 0x220C2;

inline std::uint32_t rexflags(std::int32_t value, std::uint64_t class_flags, std::uint32_t mask) noexcept {
  using namespace api;
  if (value < 0 || (class_flags & kClassRegister) == 0) return 0;
  std::uint32_t flags = 0;
  if (value & 8) flags |= kRexB | kRexX | kRexR;
  if (value & 16) flags |= kRexFifthBits;
  constexpr std::uint64_t kVectorClasses = 0x27000;
  constexpr std::uint64_t kByteRegister = 0x100000104;
  constexpr std::uint64_t kHighByteRegister = 0x50200000;
  if (class_flags & kVectorClasses) {
    flags |= kRexVectorFifth;
  } else if ((class_flags & kByteRegister) == kByteRegister && value > 3) {
    flags |= (class_flags & kHighByteRegister) == kHighByteRegister ? kRexHighByte : kRexRequired;
  }
  return flags & mask;
}

// REX bits of a register operand; nothing for any other operand.
inline std::uint32_t opRexflags(const api::X86Operand& operand, std::uint32_t mask) noexcept {
  if (operand.kind != api::OperandKind::reg) return 0;
  const tables::RegisterRow* row = tables::registerById(operand.base);
  if (row == nullptr) return 0;
  return rexflags(static_cast<std::int32_t>(row->number), row->flags, mask);
}

constexpr std::uint8_t genModrm(unsigned mod, unsigned reg, unsigned rm) noexcept {
  return static_cast<std::uint8_t>(mod * 64 + (reg & 7) * 8 + (rm & 7));
}

}  // namespace x86_encoder::ea
