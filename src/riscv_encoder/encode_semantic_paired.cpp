#include "riscv_encoder/encode_semantic_reader.hpp"

namespace riscv_encoder::encode::semantic {

// Kinds 88 to 100: register pairs of the P extension and the remaining rows.
Status pairedKind(Reader& r, std::uint8_t kind) {
  switch (kind) {
    case 88:
      QOVRIN_TRY(r.setFieldWidth(kPRdP, 1, "p_rd_p"));
      QOVRIN_TRY(r.setFieldWidth(kPRs1P, 2, "p_rs1_p"));
      return r.setFieldWidth(kPRs2P, 3, "p_rs2_p");
    case 89:
      QOVRIN_TRY(r.setFieldWidth(kPRdP, 1, "p_rd_p"));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setReg(kRs2, 3);
    case 90:
    case 93:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setFieldWidth(kPRs1P, 2, "p_rs1_p"));
      return kind == 90 ? r.setReg(kRs2, 3) : r.setUnsignedBits(kPUimm, 3, pUimmBits(r.fields()));
    case 91:
    case 92:
    case 94:
      QOVRIN_TRY(r.setFieldWidth(kPRdP, 1, "p_rd_p"));
      QOVRIN_TRY(r.setFieldWidth(kPRs1P, 2, "p_rs1_p"));
      if (kind == 94) return {};
      return kind == 91 ? r.setReg(kRs2, 3) : r.setUnsignedBits(kPUimm, 3, pUimmBits(r.fields()));
    case 95:
      QOVRIN_TRY(r.setFieldWidth(kPRdP, 1, "p_rd_p"));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setUnsignedBits(kPUimm, 3, pUimmBits(r.fields()));
    case 96:
      QOVRIN_TRY(r.setFieldWidth(kPRdP, 1, "p_rd_p"));
      return r.setUnsignedBits(kPUimm, 2, pUimmBits(r.fields()));
    case 97: {
      const auto t = r.offsetValue(2, 12, 32);
      if (!t) return fail(t.error());
      r.values[kImm12Hi] = *t >> 5 & 127;
      return r.setReg(kRs1, 1);
    }
    case 98:
    case 99: {
      const std::size_t position = kind == 98 ? 3 : 4;
      QOVRIN_TRY(r.setAtMost(kind == 98 ? kMopRT30 : kMopRrT30, position, kind == 98 ? 31 : 7));
      const std::uint32_t n = r.values[kind == 98 ? kMopRT30 : kMopRrT30];
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      if (kind == 98) {
        r.values[kMopRT30] = n >> 4 & 1;
        r.values[kMopRT2726] = n >> 2 & 3;
        r.values[kMopRT2120] = n & 3;
        return {};
      }
      r.values[kMopRrT30] = n >> 2 & 1;
      r.values[kMopRrT2726] = n & 3;
      return r.setReg(kRs2, 3);
    }
    case 100:
      QOVRIN_TRY(r.storeSplit(3));
      QOVRIN_TRY(r.reg(1));
      if (*r.reg(1) % 2 != 0) return r.refuseRegister(1, *r.reg(1), RegisterRule::even);
      r.values[kRs2E] = *r.reg(1) >> 1;
      return r.setReg(kRs1, 2);
    default:
      return fail(Error::UnsupportedInstruction);
  }
}


}  // namespace riscv_encoder::encode::semantic
