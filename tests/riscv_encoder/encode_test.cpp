#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "common/error_of.hpp"
#include "riscv_encoder/encode_fields.hpp"
#include "riscv_encoder/encode_immediates.hpp"
#include "riscv_encoder/encode_semantic.hpp"
#include "riscv_encoder/tables.hpp"

namespace {

using qovrin::Error;
using qovrin::testing::errorOf;
using namespace riscv_encoder::encode;

const riscv_encoder::RiscvInstructionRow& row(std::string_view mnemonic, unsigned xlen = 64) {
  return **riscv_encoder::tables::findInstruction(mnemonic, xlen);
}

TEST(FieldValues, NamesReadTheirSlots) {
  RiscvFieldValues values;
  values[kRd] = 5;
  values[kRs1] = 6;
  values[kPUimm] = 7;
  values[kCNzimm6Hi] = 1;
  EXPECT_EQ(fieldValue(values, "rd_rs1_n0"), 5u);
  EXPECT_EQ(fieldValue(values, "rs2=rs1"), 6u);
  EXPECT_EQ(fieldValue(values, "c_rs1_n0"), 6u);
  EXPECT_EQ(fieldValue(values, "p_w_uimm6"), 7u);
  EXPECT_EQ(fieldValue(values, "p_imm10"), 7u);
  EXPECT_EQ(fieldValue(values, "c_imm6hi"), 1u);
  EXPECT_EQ(errorOf(fieldValue(values, "rd_e")), Error::UnsupportedInstruction);
  EXPECT_EQ(errorOf(fieldValue(values, "RD")), Error::UnsupportedInstruction);
}

TEST(Packing, OrsEveryFieldIntoTheMatchWord) {
  RiscvFieldValues values;
  EXPECT_EQ(packInstruction(row("add"), values), 0x33u);
  values[kRd] = 10;
  values[kRs1] = 11;
  EXPECT_EQ(packInstruction(row("fabs_d"), values), 0x22b5a553u);  // rs1 packed twice
  values[kRs1] = 32;
  EXPECT_EQ(errorOf(packInstruction(row("add"), values)), Error::ImmediateOutOfRange);
}

TEST(WidthLookups, FindTheRowsOwnFields) {
  EXPECT_EQ(shamtBits(row("slli", 32).fields), 5);
  EXPECT_EQ(shamtBits(row("slli", 64).fields), 6);
  EXPECT_EQ(cUimmBits(row("c_slli").fields), 6);
  EXPECT_EQ(cUimmBits(row("c_srli_rv32", 32).fields), 5);
  EXPECT_EQ(cUimmBits(row("c_slli_rv32", 32).fields), 5);
  EXPECT_EQ(fieldBits(row("vle8_v").fields, "nf"), 3);
  EXPECT_EQ(errorOf(fieldBits(row("add").fields, "nf")), Error::UnsupportedInstruction);
  EXPECT_EQ(errorOf(pUimmBits(row("add").fields)), Error::UnsupportedInstruction);
}

struct RangeCase {
  std::int64_t value;
  std::optional<std::uint32_t> result;  // absent: the error is expected
  Error error = Error::ImmediateOutOfRange;
};

TEST(ImmediateChecks, AlignedSignedAndUnsignedRanges) {
  for (const RangeCase& c : std::vector<RangeCase>{
           {-4096, 4096}, {4094, 4094}, {4096, {}}, {-3, {}, Error::ImmediateAlignment},
           {4097, {}, Error::ImmediateAlignment}, {-4098, {}}}) {
    const auto result = wrapAlignedSigned(c.value, 13, 2);
    if (c.result)
      EXPECT_EQ(result, *c.result) << c.value;
    else
      EXPECT_EQ(errorOf(result), c.error) << c.value;
  }
  EXPECT_EQ(unsignedRange(15, 4), 15u);
  EXPECT_EQ(errorOf(unsignedRange(16, 4)), Error::ImmediateOutOfRange);
  EXPECT_EQ(errorOf(unsignedRange(static_cast<std::uint64_t>(-1), 4)), Error::ImmediateOutOfRange);
}

TEST(CompressedImmediates, RangesAlignmentsAndScatter) {
  EXPECT_EQ(compressedAddi4spnImmediate(1020), 255u);
  EXPECT_EQ(compressedAddi4spnImmediate(8), 1u);
  for (const std::int64_t bad : {0, -4, 1024}) EXPECT_EQ(errorOf(compressedAddi4spnImmediate(bad)), Error::ImmediateOutOfRange);
  EXPECT_EQ(errorOf(compressedAddi4spnImmediate(6)), Error::ImmediateAlignment);

  const auto split = [](const qovrin::Result<SplitField>& r) { return std::pair{r->high, r->low}; };
  EXPECT_EQ(split(compressedLuiImmediate(4096)), std::pair(0u, 1u));
  EXPECT_EQ(split(compressedLuiImmediate(-4096)), std::pair(1u, 31u));
  EXPECT_EQ(errorOf(compressedLuiImmediate(2048)), Error::ImmediateAlignment);
  EXPECT_EQ(errorOf(compressedLuiImmediate(131072)), Error::ImmediateOutOfRange);
  EXPECT_EQ(errorOf(compressedLuiImmediate(0)), Error::ImmediateOutOfRange);

  EXPECT_EQ(split(compressedAddi16spImmediate(-512)), std::pair(1u, 0u));
  EXPECT_EQ(split(compressedAddi16spImmediate(496)), std::pair(0u, 31u));
  EXPECT_EQ(errorOf(compressedAddi16spImmediate(8)), Error::ImmediateAlignment);
  EXPECT_EQ(errorOf(compressedAddi16spImmediate(512)), Error::ImmediateOutOfRange);

  EXPECT_EQ(split(compressedBranchOffset(-256)), std::pair(4u, 0u));
  EXPECT_EQ(errorOf(compressedBranchOffset(3)), Error::ImmediateAlignment);
  EXPECT_EQ(errorOf(compressedBranchOffset(256)), Error::ImmediateOutOfRange);

  EXPECT_EQ(compressedJumpOffset(-2048), 1u << 10);
  EXPECT_EQ(compressedJumpOffset(2046), 0x3FFu);
  EXPECT_EQ(errorOf(compressedJumpOffset(2048)), Error::ImmediateOutOfRange);
}

TEST(CompressedOffsets, EachRowTakesItsOwnLayout) {
  struct Case {
    std::string_view mnemonic;
    std::int64_t offset;
    std::optional<Error> error;
  };
  for (const Case& c : std::vector<Case>{
           {"c_lw", 124, {}}, {"c_lw", 126, Error::ImmediateAlignment}, {"c_lw", 128, Error::ImmediateOutOfRange},
           {"c_lw", -4, Error::ImmediateOutOfRange}, {"c_sdsp", 504, {}}, {"c_sdsp", 512, Error::ImmediateOutOfRange},
           {"c_lh", 2, {}}, {"c_lh", 1, Error::ImmediateAlignment}, {"c_lbu", 4, Error::ImmediateOutOfRange},
           {"c_lbu", -1, Error::ImmediateOutOfRange}, {"add", 0, Error::UnsupportedInstruction}}) {
    const auto result = fillCompressedOffset(row(c.mnemonic), {}, c.offset);
    EXPECT_EQ(errorOf(result), c.error) << c.mnemonic << " " << c.offset;
  }
  EXPECT_EQ((*fillCompressedOffset(row("c_sdsp"), {}, 504))[kCUimm9SpS], 63u);
  EXPECT_EQ((*fillCompressedOffset(row("c_lbu"), {}, 1))[kCUimm2], 2u);
}

TEST(SemanticFieldValues, CountIsCheckedBeforeOperandsAndKindZeroHasNoTreatment) {
  const riscv_encoder::RiscvOperand immediate = riscv_encoder::immediateOperand(1);
  const std::vector<riscv_encoder::RiscvOperand> two_immediates{immediate, immediate};
  EXPECT_EQ(errorOf(semanticFieldValues(row("addi"), two_immediates)), Error::OperandCountMismatch);
  riscv_encoder::RiscvInstructionRow kind_zero = row("add");
  kind_zero.kind = 0;
  EXPECT_EQ(errorOf(semanticFieldValues(kind_zero, {})), Error::UnsupportedInstruction);
  const std::vector<riscv_encoder::RiscvOperand> registers{riscv_encoder::registerOperand(10),
                                                           riscv_encoder::registerOperand(11), immediate};
  const auto values = semanticFieldValues(row("addi"), registers);
  ASSERT_TRUE(values.has_value());
  EXPECT_EQ((*values)[kRd], 10u);
  EXPECT_EQ((*values)[kRs1], 11u);
  EXPECT_EQ((*values)[kImm12], 1u);
  EXPECT_EQ((*values)[kRs2], 0u);
}

}  // namespace
