#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "x86_encoder/instruction.hpp"
#include "x86_encoder/match.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/tables.hpp"

namespace {

namespace tables = x86_encoder::tables;
namespace match = x86_encoder::match;
using namespace x86_encoder::api;

X86Operand registerOperand(const tables::RegisterRow& row) {
  X86Operand operand;
  operand.kind = OperandKind::reg;
  operand.flags = row.flags;
  operand.base = row.id;
  return operand;
}

X86Operand memoryOperand(std::uint64_t size) {
  X86Operand operand;
  operand.kind = OperandKind::memory;
  operand.flags = kMemoryWithRegisters | size;
  operand.base = tables::findRegister("rax")->id;
  return operand;
}

X86Operand immediateOperand(std::uint64_t size, std::int64_t value) {
  X86Operand operand;
  operand.kind = OperandKind::immediate;
  operand.flags = kImmediateLiteral | kImmediateFitsSigned32 | size;
  operand.value = value;
  return operand;
}

// Operands a template slot could be written with, and a few it refuses:
// the registers of its class (first and last of the table), memory sized as
// the slot asks and unsized, immediates, and a vector register.
std::vector<X86Operand> operandsFor(std::uint64_t word) {
  std::vector<X86Operand> options;
  const std::uint64_t demanded = word & 0xFF'FFFF'FFFFu & ~kClassImmediate;
  const tables::RegisterRow* first = nullptr;
  const tables::RegisterRow* last = nullptr;
  for (const tables::RegisterRow& row : tables::registers()) {
    if ((row.flags & demanded) != demanded) continue;
    if (first == nullptr) first = &row;
    last = &row;
  }
  if (first != nullptr) options.push_back(registerOperand(*first));
  if (last != nullptr && last != first) options.push_back(registerOperand(*last));
  if (word & (kClassMemory | kClassRegisterOrMemory)) {
    options.push_back(memoryOperand(word & kSizeMask));
    options.push_back(memoryOperand(0));
  }
  options.push_back(immediateOperand(word & kSizeMask, 1));
  options.push_back(immediateOperand(0, 0x12345));
  options.push_back(registerOperand(*tables::findRegister("ymm3")));
  return options;
}

struct Answer {
  std::uint32_t grade;
  bool present;
  std::uint32_t index;
  std::uint32_t position;
  std::vector<std::uint64_t> flags;
  bool operator==(const Answer&) const = default;
};

Answer answer(X86Instruction ins, bool indexed) {
  const std::uint32_t grade = indexed ? match::findMatch(ins) : match::findMatchByScan(ins);
  Answer result{grade, ins.template_present, ins.template_index, ins.template_position, {}};
  for (unsigned i = 0; i < ins.operand_count; ++i) result.flags.push_back(ins.operands[i].flags);
  return result;
}

// For every template, operands built from its slots, one slot varied at a
// time, in both modes: the shape groups must pick what a scan of all the
// mnemonic's templates picks, failing grades and sized operands included.
TEST(MatchShapeIndex, AgreesWithScanOverEveryTemplate) {
  std::size_t compared = 0;
  std::size_t shaped = 0;
  for (std::uint32_t index = 0; index < tables::kTemplateCount; ++index) {
    const tables::TemplateRef t{index};
    const unsigned count = t.row().operand_count;
    std::vector<std::vector<X86Operand>> slots;
    for (unsigned slot = 0; slot < count; ++slot) slots.push_back(operandsFor(t.operandClass(slot)));
    for (const std::uint8_t mode : {std::uint8_t{64}, std::uint8_t{32}}) {
      X86Instruction base;
      base.opcode = t.row().opcode;
      base.operand_count = static_cast<std::uint8_t>(count);
      base.mode_bits = mode;
      base.address_bits = mode;
      for (unsigned slot = 0; slot < count; ++slot) base.operands[slot] = slots[slot].front();
      std::vector<X86Instruction> cases{base};
      for (unsigned slot = 0; slot < count; ++slot)
        for (std::size_t option = 1; option < slots[slot].size(); ++option) {
          X86Instruction varied = base;
          varied.operands[slot] = slots[slot][option];
          cases.push_back(varied);
        }
      for (const X86Instruction& ins : cases) {
        const Answer by_shape = answer(ins, true);
        const Answer by_scan = answer(ins, false);
        ++compared;
        if (tables::x86_shape_group_ranges[ins.opcode].count != 0) ++shaped;
        ASSERT_EQ(by_shape, by_scan) << "template " << index << " (" << tables::mnemonicName(ins.opcode) << "), mode "
                                     << int{mode} << ", case " << compared;
      }
    }
  }
  // Most cases must have gone through a shape group, not only the scan.
  EXPECT_GT(shaped, compared / 3);
}

// Every operand of a shape the groups know leads to a group; an operand of
// no known shape leaves the mnemonic to the scan.
TEST(MatchShapeIndex, ShapesOfOperands) {
  const std::uint16_t mov = *tables::findMnemonic("mov");
  const auto rax = registerOperand(*tables::findRegister("rax"));
  const std::uint16_t gpr = tables::operandShape(rax.flags, true);
  ASSERT_NE(gpr, tables::kNoShape);
  EXPECT_NE(tables::operandShape(memoryOperand(kSizeDword).flags, true), tables::kNoShape);
  EXPECT_NE(tables::operandShape(memoryOperand(0).flags, true), tables::kNoShape);
  EXPECT_EQ(tables::operandShape(immediateOperand(kSizeByte, 1).flags, false), 0);
  EXPECT_EQ(tables::operandShape(kClassRegister | kClassMemory, true), tables::kNoShape);
  EXPECT_EQ(tables::operandShape(memoryOperand(kSizeDword | kSizeQword).flags, true), tables::kNoShape);
  const std::uint16_t key =
      static_cast<std::uint16_t>((((2u << tables::kShapeBits) | gpr) << tables::kShapeBits) | gpr);
  const auto candidates = tables::shapeCandidates(mov, key);
  ASSERT_TRUE(candidates.has_value());
  EXPECT_FALSE(candidates->empty());
  EXPECT_LT(candidates->size(), tables::templatesOf(mov).count);
  EXPECT_FALSE(tables::shapeCandidates(*tables::findMnemonic("cpuid"), 0).has_value());
}

}  // namespace
