#include "x86_encoder/evex_checks.hpp"

#include <algorithm>
#include <array>

#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::evex_checks {

namespace {

using api::kDecoratorOpmask;
using api::kDecoratorZeroing;
using api::OperandKind;
using api::X86Instruction;
using api::X86Operand;

// A template memory operand whose address takes an xmm, ymm or zmm index.
constexpr std::uint64_t kVectorIndex = api::operandBit(20) | api::operandBit(21) | api::operandBit(22);

constexpr std::array kComplexMultiplies{
    tables::kMnemonicVfmaddcph, tables::kMnemonicVfcmaddcph, tables::kMnemonicVfmulcph, tables::kMnemonicVfcmulcph,
    tables::kMnemonicVfmaddcsh, tables::kMnemonicVfcmaddcsh, tables::kMnemonicVfmulcsh, tables::kMnemonicVfcmulcsh};

// Their qword is an element of a vector register, read from or written to
// memory; outside 64-bit code only memory can hold it.
constexpr std::array kQwordElement{tables::kMnemonicVpinsrq, tables::kMnemonicVpextrq};

constexpr std::array kIntegerToFloat{tables::kMnemonicVcvtsi2sh,  tables::kMnemonicVcvtsi2ss,
                                     tables::kMnemonicVcvtsi2sd,  tables::kMnemonicVcvtusi2sh,
                                     tables::kMnemonicVcvtusi2ss, tables::kMnemonicVcvtusi2sd};

// Every line asks, and few are near any of these: the span they cover turns
// most away with two compares.
template <const auto& opcodes>
bool among(std::uint16_t opcode) noexcept {
  static constexpr auto kLowest = std::ranges::min(opcodes);
  static constexpr auto kHighest = std::ranges::max(opcodes);
  if (opcode < kLowest || opcode > kHighest) return false;
  return std::ranges::find(opcodes, opcode) != opcodes.end();
}

// The register number (0-31) of a register operand; -1 for any other.
int registerNumber(const X86Operand& operand) noexcept {
  if (operand.kind != OperandKind::reg) return -1;
  const tables::RegisterRow* row = tables::registerById(operand.base);
  return row == nullptr ? -1 : static_cast<int>(row->number);
}

// The processor writes such a destination one element pair at a time while
// it still reads the sources, so it refuses a destination that is also one.
Refusal complexMultiply(const X86Instruction& ins) noexcept {
  if (ins.operand_count < 3) return {Reason::destination_is_source, 0};
  const int destination = registerNumber(ins.operands[0]);
  for (std::uint8_t source = 1; source < 3; ++source)
    if (destination >= 0 && registerNumber(ins.operands[source]) == destination)
      return {Reason::destination_is_source, source};
  return {};
}

}  // namespace

Refusal check(const X86Instruction& ins) noexcept {
  if (!ins.template_present || ins.operand_count == 0) return {};
  const tables::TemplateRef chosen{ins.template_index};
  if (among<kIntegerToFloat>(ins.opcode) && ins.mode_bits != 64 &&
      (chosen.operandClass(ins.operand_count - 1u) & api::kSizeQword))
    return {Reason::qword_integer_outside_64, 0};
  if (among<kQwordElement>(ins.opcode) && ins.mode_bits != 64)
    for (std::size_t slot = 0; slot < ins.operand_count; ++slot)
      if (ins.operands[slot].kind == OperandKind::memory && (chosen.operandClass(slot) & api::kSizeQword))
        return {Reason::qword_integer_outside_64, 0};
  if (!chosen.iflagTest(tables::Iflag::kEvex)) return {};
  // Masking is written on the first operand, which the EVEX prefix reads.
  const std::uint16_t decorators = ins.operands[0].decorators;
  const bool masked = (decorators & kDecoratorOpmask) != 0;
  if ((decorators & kDecoratorZeroing) && !masked) return {Reason::zeroing_without_mask, 0};
  for (std::size_t slot = 0; slot < ins.operand_count; ++slot) {
    const std::uint64_t operand_class = chosen.operandClass(slot);
    if ((operand_class & api::kClassMemory) && (operand_class & kVectorIndex) && !masked)
      return {Reason::vector_address_without_mask, 0};
  }
  if (among<kComplexMultiplies>(ins.opcode)) return complexMultiply(ins);
  return {};
}

}  // namespace x86_encoder::evex_checks
