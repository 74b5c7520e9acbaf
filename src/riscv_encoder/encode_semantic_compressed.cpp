#include "riscv_encoder/encode_semantic_reader.hpp"

namespace riscv_encoder::encode::semantic {

namespace {

template <typename Compute>
Status nonZeroImmediate(Reader& r, std::size_t position, const ImmediateRule& rule, Compute compute) {
  const auto value = r.imm(position);
  if (!value) return fail(value.error());
  if (r.pending(position)) return {};
  const Status status = compute(*value);
  if (!status) return r.refuseImmediate(status.error(), *value, rule);
  return {};
}

Status splitInto(Reader& r, Slot high, Slot low, const Result<SplitField>& split) {
  if (!split) return fail(split.error());
  r.values[high] = split->high;
  r.values[low] = split->low;
  return {};
}

}  // namespace

// Kinds 67 to 87: compressed rows.
Status compressedKind(Reader& r, std::uint8_t kind) {
  switch (kind) {
    case 67:
      return {};
    case 68:
      return r.setAtMost(kCMopT, 1, 7);
    case 69:
      QOVRIN_TRY(r.setReg(kRs1, 1));
      return r.nonZero(kRs1, 1);
    case 70:
      return r.compressedRegisterRule(1);
    case 71:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs2, 2));
      QOVRIN_TRY(r.nonZero(kRd, 1));
      return r.nonZero(kRs2, 2);
    case 72:
      QOVRIN_TRY(r.reg(1));
      QOVRIN_TRY(r.reg(2));
      QOVRIN_TRY(r.setCompressedReg(kRdP, 1));
      return r.setCompressedReg(kRs2P, 2);
    case 73:
    case 74: {
      const std::size_t position = kind == 73 ? 2 : 1;
      if (kind == 73) QOVRIN_TRY(r.reg(1));
      const auto s = r.signedValue(position, 6);
      if (!s) return fail(s.error());
      if (kind == 73) QOVRIN_TRY(r.compressedRegisterRule(1));
      r.values[kCNzimm6Hi] = *s >> 5;
      r.values[kCNzimm6Lo] = *s & 31;
      return {};
    }
    case 75: {
      QOVRIN_TRY(r.reg(1));
      const auto bits = cUimmBits(r.fields());
      if (!bits) return fail(bits.error());
      const auto amount = r.imm(2);
      if (!amount) return fail(amount.error());
      const auto u = unsignedRange(static_cast<std::uint64_t>(*amount), *bits);
      if (!u) return fail(r.outOfRange(*amount, *bits, false).error());
      QOVRIN_TRY(r.compressedRegisterRule(1));
      r.values[kCNzuimm6Hi] = *u >> 5 & 1;
      r.values[kCNzuimm6Lo] = *u & 31;
      r.values[kCNzuimm5] = *u & 31;
      return {};
    }
    case 76:
    case 77:
      QOVRIN_TRY(r.imm(2));
      QOVRIN_TRY(r.setCompressedReg(kind == 76 ? kRdP : kRs2P, 1));
      QOVRIN_TRY(r.setCompressedReg(kRs1P, 3));
      return r.compressedOffset(2);
    case 78:
      QOVRIN_TRY(r.compressedRegisterRule(1));
      return r.compressedOffset(2);
    case 79:
      QOVRIN_TRY(r.setReg(kRs2, 1));
      return r.compressedOffset(2);
    case 80: {
      const auto offset = r.imm(1);
      if (!offset) return fail(offset.error());
      const auto field = compressedJumpOffset(*offset);
      if (!field) return r.refuseOffset(field.error(), *offset, kCompressedJumpRule);
      r.values[kCImm12] = *field;
      return {};
    }
    case 81: {
      const auto offset = r.imm(2);
      if (!offset) return fail(offset.error());
      const auto split = compressedBranchOffset(*offset);
      if (!split) return r.refuseOffset(split.error(), *offset, kCompressedBranchRule);
      QOVRIN_TRY(splitInto(r, kCBimm9Hi, kCBimm9Lo, split));
      return r.setCompressedReg(kRs1P, 1);
    }
    case 82:
      return nonZeroImmediate(r, 1, kAddi16spRule, [&r](std::int64_t value) {
        return splitInto(r, kCNzimm10Hi, kCNzimm10Lo, compressedAddi16spImmediate(value));
      });
    case 83:
      QOVRIN_TRY(nonZeroImmediate(r, 2, kLuiRule, [&r](std::int64_t value) {
        return splitInto(r, kCNzimm18Hi, kCNzimm18Lo, compressedLuiImmediate(value));
      }));
      QOVRIN_TRY(r.setReg(kRd, 1));
      if (r.values[kRd] == 0 || r.values[kRd] == 2)
        return r.refuseRegister(1, r.values[kRd], RegisterRule::not_zero_sp);
      return {};
    case 84:
      QOVRIN_TRY(r.setCompressedReg(kRdP, 1));
      return nonZeroImmediate(r, 2, kAddi4spnRule, [&r](std::int64_t value) -> Status {
        const auto field = compressedAddi4spnImmediate(value);
        if (!field) return fail(field.error());
        r.values[kCNzuimm10] = *field;
        return {};
      });
    case 85:
      QOVRIN_TRY(r.setFieldWidth(kCRlist, 1, "c_rlist"));
      return r.setFieldWidth(kCSpimm, 2, "c_spimm");
    case 86:
      QOVRIN_TRY(r.setFieldWidth(kCSreg1, 1, "c_sreg1"));
      return r.setFieldWidth(kCSreg2, 2, "c_sreg2");
    case 87:
      return r.setFieldWidth(kCIndex, 1, "c_index");
    default:
      return fail(Error::UnsupportedInstruction);
  }
}


}  // namespace riscv_encoder::encode::semantic
