#include "riscv_encoder/encode_semantic_reader.hpp"

namespace riscv_encoder::encode::semantic {

// Kinds 41 to 66: vector rows.
Status vectorKind(Reader& r, std::uint8_t kind) {
  switch (kind) {
    case 41:
    case 42:
      QOVRIN_TRY(r.setReg(kVd, 1));
      QOVRIN_TRY(r.setReg(kVs2, 2));
      QOVRIN_TRY(r.setReg(kind == 41 ? kVs1 : kRs1, 3));
      return r.setAtMost(kVm, 4, 1);
    case 43:
    case 51:
      QOVRIN_TRY(r.setReg(kind == 43 ? kVd : kRd, 1));
      QOVRIN_TRY(r.setReg(kVs2, 2));
      return r.setAtMost(kVm, 3, 1);
    case 44:
      QOVRIN_TRY(r.setReg(kVd, 1));
      return r.setReg(kRs1, 2);
    case 45:
    case 65:
      QOVRIN_TRY(r.setReg(kVd, 1));
      QOVRIN_TRY(r.setReg(kVs2, 2));
      return r.setReg(kind == 45 ? kVs1 : kRs1, 3);
    case 46:
    case 52:
      QOVRIN_TRY(r.setReg(kind == 46 ? kVd : kRd, 1));
      return r.setReg(kVs2, 2);
    case 47:
    case 48:
      QOVRIN_TRY(r.setReg(kVd, 1));
      QOVRIN_TRY(r.setReg(kVs2, 2));
      QOVRIN_TRY(kind == 47 ? r.setSigned(kSimm5, 3, 5) : r.setAtMost(kZimm5, 3, 31));
      return r.setAtMost(kVm, 4, 1);
    case 49:
    case 50:
      QOVRIN_TRY(r.setReg(kVd, 1));
      QOVRIN_TRY(r.setReg(kVs2, 2));
      return kind == 49 ? r.setSigned(kSimm5, 3, 5) : r.setAtMost(kZimm5, 3, 31);
    case 53:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      return r.setAtMost(kZimm11, 3, 2047);
    case 54:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setAtMost(kZimm5, 2, 31));
      return r.setAtMost(kZimm10, 3, 1023);
    case 55:
      QOVRIN_TRY(r.setReg(kVd, 1));
      return r.setAtMost(kVm, 2, 1);
    case 56:
      QOVRIN_TRY(r.setReg(kVd, 1));
      return r.setReg(kVs1, 2);
    case 57:
      QOVRIN_TRY(r.setReg(kVd, 1));
      return r.setSigned(kSimm5, 2, 5);
    case 58:
    case 59:
      QOVRIN_TRY(r.setReg(kind == 58 ? kVd : kVs3, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      QOVRIN_TRY(r.setFieldWidth(kNf, 3, "nf"));
      return r.setAtMost(kVm, 4, 1);
    case 60:
    case 61:
    case 62:
    case 63:
      QOVRIN_TRY(r.setReg(kind == 60 || kind == 62 ? kVd : kVs3, 1));
      QOVRIN_TRY(r.setReg(kRs1, 2));
      QOVRIN_TRY(r.setReg(kind <= 61 ? kVs2 : kRs2, 3));
      QOVRIN_TRY(r.setFieldWidth(kNf, 4, "nf"));
      return r.setAtMost(kVm, 5, 1);
    case 64:
      QOVRIN_TRY(r.setReg(kVs3, 1));
      return r.setReg(kRs1, 2);
    case 66: {
      const auto amount = r.imm(3);
      if (!amount) return fail(amount.error());
      if (static_cast<std::uint64_t>(*amount) > 63) return r.outOfRange(*amount, 6, false);
      QOVRIN_TRY(r.setReg(kVd, 1));
      QOVRIN_TRY(r.setReg(kVs2, 2));
      r.values[kZimm6Hi] = static_cast<std::uint32_t>(*amount >> 5);
      r.values[kZimm6Lo] = static_cast<std::uint32_t>(*amount & 31);
      return r.setAtMost(kVm, 4, 1);
    }
    default:
      return fail(Error::UnsupportedInstruction);
  }
}

// The non-zero immediates of c.lui, c.addi16sp and c.addi4spn cannot take the

}  // namespace riscv_encoder::encode::semantic
