#pragma once
// The one entry of the RISC-V encoder: one instruction line in, its 2 or 4
// bytes out. Nothing is allocated and nothing is kept between calls.

#include <cstdint>
#include <string_view>

#include "common/error.hpp"
#include "riscv_encoder/failure.hpp"
#include "riscv_encoder/operand.hpp"

namespace riscv_encoder::source {

struct RiscvEncodedInstruction {
  std::uint32_t word = 0;
  std::uint32_t output_word = 0;  // the same word; the bytes are taken from it, low byte first
  std::uint8_t size = 0;          // 2 for a compressed row, 4 otherwise
  // Where a ";" or "#" ended the instruction text, npos when none did: the
  // caller need not look for one.
  std::size_t comment = std::string_view::npos;
};

inline constexpr std::size_t kMaxMnemonicLength = 96;

// Encodes "mnemonic operands" (a "#" or ";" starts a comment) for XLEN 32 or
// 64. Operand text that is no register, literal or named constant is read
// through the hook. For XLEN 32 a value reads as a 32-bit register holds it
// (0xfffff800 is -2048). A failure the encoder can name is described in
// `failure` when one is given.
qovrin::Result<RiscvEncodedInstruction> encodeInstructionText(std::string_view text, unsigned xlen,
                                                             const RiscvExpressionHook& hook,
                                                             RiscvFailure* failure = nullptr);

}  // namespace riscv_encoder::source
