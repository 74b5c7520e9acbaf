#pragma once
// How a memory or register operand is encoded: ModRM, SIB, displacement
// width (with EVEX compressed displacements), RIP-relative and VSIB forms,
// and the REX bits its registers need. Sizing decides it once; code
// generation emits exactly what the record says.

#include <cstdint>

#include "common/error.hpp"
#include "x86_encoder/instruction.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::ea {

// mod 0, 1 or 2 for a displacement; sets the disp8 fields of the record.
std::uint8_t memoryMod(std::uint32_t ea_flags, api::X86Instruction& instruction, std::int64_t displacement,
                       bool plain_number, bool mod0_allowed) noexcept;

}  // namespace x86_encoder::ea

namespace x86_encoder::size {

inline constexpr std::int32_t kNoRegisterOperand = -1;

struct EaRequest {
  std::uint8_t ea_operand = 0;
  std::int32_t reg_operand = kNoRegisterOperand;  // 0100-0137; else the digit below
  std::uint8_t digit = 0;                         // 0200-0237
  std::int32_t mib_index = api::kNone;            // register id from 014-017
  std::uint8_t expected_type = api::kEaScalar;    // from 0374-0376
};

// Fills the effective-address record and or-s its REX bits into the REX
// flag word; returns the ModRM, SIB and displacement byte count.
qovrin::Result<std::uint32_t> applyEaBytecode(api::X86Instruction& instruction, tables::TemplateRef chosen,
                                              const EaRequest& request);

}  // namespace x86_encoder::size
