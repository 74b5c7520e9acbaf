#include "riscv_encoder/source.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/error_of.hpp"

namespace {

using qovrin::Error;
using qovrin::testing::errorOf;
using riscv_encoder::RiscvExpressionHook;
using riscv_encoder::RiscvResolvedExpression;
using riscv_encoder::source::encodeInstructionText;

struct Encoded {
  std::string_view text;
  unsigned xlen;
  std::uint32_t word;
  unsigned size;
};

void expectEncodes(const Encoded& c, const RiscvExpressionHook& hook = {}) {
  const auto result = encodeInstructionText(c.text, c.xlen, hook);
  ASSERT_TRUE(result.has_value()) << c.text << " (RV" << c.xlen << "): " << qovrin::errorName(result.error());
  EXPECT_EQ(result->word, c.word) << c.text << " (RV" << c.xlen << ") gave 0x" << std::hex << result->word;
  EXPECT_EQ(result->output_word, c.word) << c.text;
  EXPECT_EQ(result->size, c.size) << c.text;
}

struct Refused {
  std::string_view text;
  unsigned xlen;
  Error error;
};

void expectRefuses(const Refused& c, const RiscvExpressionHook& hook = {}) {
  EXPECT_EQ(errorOf(encodeInstructionText(c.text, c.xlen, hook)), c.error)
      << c.text << " (RV" << c.xlen << ")";
}

TEST(EncodeInstructionText, BaseAndPseudoInstructions) {
  for (const Encoded& c : std::vector<Encoded>{
           {"ADDI X1, X0, 1 # note", 64, 0x00100093, 4},
           {"nop", 32, 0x13, 4},
           {"ret", 64, 0x8067, 4},
           {"neg a0,a1", 64, 0x40b00533, 4},
           {"csrrs a0,MSTATUS,zero", 64, 0x30002573, 4},
           {"csrr a0, 0x7c0", 64, 0x7c002573, 4},
           {"fadd.s fa0,fa1,fa2,dyn", 64, 0x00c5f553, 4},
           {"addi a0, a0, -2048", 32, 0x80050513, 4},
           {"addi a0, a0, 2047 ; comment", 32, 0x7ff50513, 4},
           {"beq a0,a1,-4096", 64, 0x80b50063, 4},
           {"lw a0, 8(sp)", 32, 0x00812503, 4},
           {"sw a0, (sp)", 32, 0x00a12023, 4},
           {"sd a1, -8(s0)", 64, 0xfeb43c23, 4},
           {"slli x1, x2, 40", 64, 0x02811093, 4},
           {"lui a0, 0xFFFFF", 32, 0xfffff537, 4},
           {"jal ra, 1048574", 64, 0x7ffff0ef, 4},
           {"fence rw, w", 64, 0x0310000f, 4},
           {"fmv.d fa0, fa1", 64, 0x22b58553, 4},
           {"add.uw a0, a1, a2", 64, 0x08c5853b, 4},
           {"ld a0, 8(a1)", 64, 0x0085b503, 4},
           {"ld a2, 8(a1)", 32, 0x0085b603, 4},
           {"prefetch.i 32(a0)", 64, 0x02056013, 4},
       })
    expectEncodes(c);
}

TEST(EncodeInstructionText, AtomicsAndOrdering) {
  for (const Encoded& c : std::vector<Encoded>{
           {"amoswap.w.aqrl a0,a1,(a2)", 64, 0x0eb6252f, 4},
           {"amoswap.w a0, a1, (a2), 0, 0", 64, 0x08b6252f, 4},
           {"lr.d.aq a0, (a1)", 64, 0x1405b52f, 4},
           {"lw.aq a0, a1", 64, 0x3405a52f, 4},
           {"sb.rl a1, a0", 64, 0x3ab5002f, 4},
       })
    expectEncodes(c);
}

TEST(EncodeInstructionText, CompressedInstructions) {
  for (const Encoded& c : std::vector<Encoded>{
           {"c.addi sp,-16", 64, 0x1141, 2},
           {"c.lwsp a0,8", 64, 0x4522, 2},
           {"c.addi16sp -512", 64, 0x7101, 2},
           {"c.lui a0,4096", 64, 0x6505, 2},
           {"c.slli a0,63", 64, 0x157e, 2},
           {"c.ldsp a0,504", 64, 0x757e, 2},
           {"c.lbu a0,1(a1)", 64, 0x81c8, 2},
           {"c.sb a0,2(a1)", 64, 0x89a8, 2},
           {"c.li ra, 1", 64, 0x4085, 2},
           {"c.j -2", 32, 0xbffd, 2},
           {"c.beqz a0, -4", 64, 0xdd75, 2},
           {"cm.push {ra, s0-s11}, 0", 32, 0xb8f2, 2},
       })
    expectEncodes(c);
}

TEST(EncodeInstructionText, VectorInstructions) {
  for (const Encoded& c : std::vector<Encoded>{
           {"vsetvli t0,a0,e32,m1,ta,ma", 64, 0x0d0572d7, 4},
           {"vle8.v v8,(a0)", 64, 0x02050407, 4},
           {"vle8.v v8,(a0),v0.t", 64, 0x00050407, 4},
           {"vl2re16.v v2, (a0)", 64, 0x22855107, 4},
           {"vmacc.vx v1, a0, v2", 64, 0xb62560d7, 4},
           {"vadd.vv v1, v2, v3", 64, 0x022180d7, 4},
           {"vadd.vv v1, v2, v3, v0.t", 64, 0x002180d7, 4},
       })
    expectEncodes(c);
}

TEST(EncodeInstructionText, Refusals) {
  for (const Refused& c : std::vector<Refused>{
           {"addi a0, a0, -2049", 64, Error::ImmediateOutOfRange},
           {"beq a0, a1, 3", 64, Error::ImmediateAlignment},
           {"slli a0, a0, 32", 32, Error::ImmediateOutOfRange},
           {"addiw a0, a0, 1", 32, Error::UnsupportedXLen},
           {"frobnicate a0", 64, Error::UnsupportedInstruction},
           {"addi a0, a0", 64, Error::OperandCountMismatch},
           {"addi a0, 1, 1", 64, Error::OperandKindMismatch},
           {"amoswap.w a0, a1, (a2)", 64, Error::OperandCountMismatch},
           {"c.slli.rv32 a0, 32", 32, Error::ImmediateOutOfRange},
           {"fence.aq", 64, Error::UnsupportedInstruction},
           {"csrwi.aq mstatus, 1", 64, Error::UnsupportedInstruction},
           {"vadd.vv v1, v2, v3, v4", 64, Error::InvalidOperand},
           {"vle8.v v1, 4(a0)", 64, Error::InvalidOperand},
           {"add a0, a1, a2", 16, Error::InvalidXLen},
       })
    expectRefuses(c);
}

}  // namespace
