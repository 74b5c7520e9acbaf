#include "riscv_encoder/encode_semantic_reader.hpp"

namespace riscv_encoder::encode::semantic {

// Kinds 1 to 40: scalar rows.
Status scalarKind(Reader& r, std::uint8_t kind) {
  switch (kind) {
    case 1:
      return {};
    case 2:
      return r.setReg(kRd, 1);
    case 3:
      QOVRIN_TRY(r.setReg(kRd, 1));
      return r.nonZero(kRd, 1);
    case 4:
      return r.setReg(kRs1, 1);
    case 5:
      QOVRIN_TRY(r.setReg(kRd, 1));
      return r.setReg(kRs1, 2);
    case 6:
      QOVRIN_TRY(r.setReg(kRd, 1));
      return r.setReg(kRs2, 2);
    case 7:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setReg(kRs2, 3);
    case 8:
    case 9:
      QOVRIN_TRY(r.setReg(kRd, 1));
      if (kind == 9 && r.values[kRd] % 2 != 0) return r.refuseRegister(1, r.values[kRd], RegisterRule::even);
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setSigned(kImm12, 3, 12);
    case 10:
      QOVRIN_TRY(r.setUnsignedBits(kShamtW, 3, shamtBits(r.fields())));
      r.values[kShamtD] = r.values[kShamtW];
      QOVRIN_TRY(r.setReg(kRd, 1));
      return r.setReg(kRs1, 2);
    case 11:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setAtMost(kCsr, 2, 4095));
      return r.setReg(kRs1, 3);
    case 12:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setAtMost(kCsr, 2, 4095));
      return r.setAtMost(kZimm5, 3, 31);
    case 13:
      QOVRIN_TRY(r.setReg(kRd, 1));
      return r.setAtMost(kCsr, 2, 4095);
    case 14:
      QOVRIN_TRY(r.setAtMost(kCsr, 1, 4095));
      return r.setReg(kRs1, 2);
    case 15:
      QOVRIN_TRY(r.setAtMost(kCsr, 1, 4095));
      return r.setAtMost(kZimm5, 2, 31);
    case 16:
      QOVRIN_TRY(r.setReg(kRd, 1));
      return r.setAtMost(kZimm5, 2, 31);
    case 17:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setAtMost(kRm, 3, 7);
    case 18:
    case 19: {
      constexpr Slot kRegisters[] = {kRd, kRs1, kRs2, kRs3};
      const std::size_t registers = kind == 18 ? 3 : 4;
      for (std::size_t index = 0; index < registers; ++index) QOVRIN_TRY(r.setReg(kRegisters[index], index + 1));
      return r.setAtMost(kRm, registers + 1, 7);
    }
    case 20:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      QOVRIN_TRY(r.setReg(kRs2, 3));
      return r.setFieldWidth(kBs, 4, "bs");
    case 21:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setFieldWidth(kRnum, 3, "rnum");
    case 22:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setUnsignedBits(kPUimm, 3, pUimmBits(r.fields()));
    case 23:
      QOVRIN_TRY(r.setReg(kRd, 1));
      return r.setUnsignedBits(kPUimm, 2, pUimmBits(r.fields()));
    case 24:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setAtMost(kRl, 3, 1);
    case 25:
      QOVRIN_TRY(r.setReg(kRs2, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setAtMost(kAq, 3, 1);
    case 26:
      QOVRIN_TRY(r.storeSplit(2));
      QOVRIN_TRY(r.setReg(kRs2, 1));
      return r.setReg(kRs1, 3);
    case 27:
      QOVRIN_TRY(r.setReg(kRs1, 1));
      return r.setReg(kRs2, 2);
    case 28:
    case 30:
      QOVRIN_TRY(r.branch(3, kBimm12Hi, kBimm12Lo));
      QOVRIN_TRY(r.setReg(kind == 28 ? kRs1 : kRs2, 1));
      return r.setReg(kind == 28 ? kRs2 : kRs1, 2);
    case 29:
    case 31:
      QOVRIN_TRY(r.branch(2, kBimm12Hi, kBimm12Lo));
      return r.setReg(kind == 29 ? kRs1 : kRs2, 1);
    case 32:
      QOVRIN_TRY(r.branch(3, kImm12Hi, kImm12Lo));
      QOVRIN_TRY(r.setReg(kRs1, 1));
      return r.setAtMost(kImm5, 2, 31);
    case 33:
      QOVRIN_TRY(r.setReg(kRd, 1));
      return r.setAtMost(kImm20, 2, 0xFFFFF);
    case 34:
      return r.setAtMost(kImm20, 1, 0xFFFFF);
    case 35:
      QOVRIN_TRY(r.jump(2));
      return r.setReg(kRd, 1);
    case 36:
      return r.jump(1);
    case 37:
      QOVRIN_TRY(r.setAtMost(kPred, 1, 15));
      return r.setAtMost(kSucc, 2, 15);
    case 38:
    case 40:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs2, 2));
      QOVRIN_TRY(r.setReg(kRs1, 3));
      QOVRIN_TRY(r.setAtMost(kAq, 4, 1));
      return r.setAtMost(kRl, 5, 1);
    case 39:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      QOVRIN_TRY(r.setAtMost(kAq, 3, 1));
      return r.setAtMost(kRl, 4, 1);
    default:
      return fail(Error::UnsupportedInstruction);
  }
}


}  // namespace riscv_encoder::encode::semantic
