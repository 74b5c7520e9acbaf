#include "riscv_encoder/encode_semantic.hpp"

#include <array>

#include "riscv_encoder/encode_fields.hpp"
#include "riscv_encoder/encode_immediates.hpp"

namespace riscv_encoder::encode {

using qovrin::Error;
using qovrin::fail;
using qovrin::Result;
using qovrin::Status;

namespace {

constexpr std::array<std::uint8_t, 101> kOperandCounts = [] {
  std::array<std::uint8_t, 101> counts{};
  const auto set = [&counts](std::uint8_t count, std::initializer_list<int> kinds) {
    for (const int kind : kinds) counts[kind] = count;
  };
  set(1, {2, 3, 4, 34, 36, 68, 69, 70, 74, 80, 82, 87});
  set(2, {5, 6, 13, 14, 15, 16, 23, 27, 29, 31, 33, 35, 37, 44, 46, 52, 55, 56, 57, 64, 71, 72, 73, 75, 78, 79, 81,
          83, 84, 85, 86, 94, 96, 97});
  set(3, {7, 8, 9, 10, 11, 12, 17, 21, 22, 24, 25, 26, 28, 30, 32, 43, 45, 49, 50, 51, 53, 54, 65, 76, 77, 88, 89,
          90, 91, 92, 93, 95, 98, 100});
  set(4, {18, 20, 39, 41, 42, 47, 48, 58, 59, 66, 99});
  set(5, {19, 38, 40, 60, 61, 62, 63});
  return counts;
}();

// Reads the operands of one line by position (numbered from 1, as the kinds
// are described) and writes the slots.
class Reader {
 public:
  Reader(const RiscvInstructionRow& row, std::span<const RiscvOperand> operands) : row_(row), operands_(operands) {}

  RiscvFieldValues values;

  Fields fields() const noexcept { return row_.fields; }
  const RiscvInstructionRow& row() const noexcept { return row_; }

  Result<std::uint32_t> reg(std::size_t position) const noexcept {
    const RiscvOperand& operand = operands_[position - 1];
    if (operand.isImmediate()) return fail(Error::OperandKindMismatch);
    return static_cast<std::uint32_t>(operand.value & 31);
  }
  Result<std::int64_t> imm(std::size_t position) const noexcept {
    const RiscvOperand& operand = operands_[position - 1];
    if (!operand.isImmediate()) return fail(Error::OperandKindMismatch);
    return static_cast<std::int64_t>(operand.value);
  }
  bool pending(std::size_t position) const noexcept { return operands_[position - 1].isPending(); }

  Status setReg(Slot slot, std::size_t position) noexcept {
    const auto number = reg(position);
    if (!number) return fail(number.error());
    values[slot] = *number;
    return {};
  }
  // A compressed 3-bit register field: x8..x15 only.
  Status setCompressedReg(Slot slot, std::size_t position) noexcept {
    const auto number = reg(position);
    if (!number) return fail(number.error());
    if (*number < 8 || *number > 15) return fail(Error::RegisterOutOfRange);
    values[slot] = *number - 8;
    return {};
  }
  Status setAtMost(Slot slot, std::size_t position, std::uint64_t limit) noexcept {
    const auto value = imm(position);
    if (!value) return fail(value.error());
    if (static_cast<std::uint64_t>(*value) > limit) return fail(Error::ImmediateOutOfRange);
    values[slot] = static_cast<std::uint32_t>(*value);
    return {};
  }
  Status setSigned(Slot slot, std::size_t position, unsigned bits) noexcept {
    const auto value = signedValue(position, bits);
    if (!value) return fail(value.error());
    values[slot] = *value;
    return {};
  }
  Result<std::uint32_t> signedValue(std::size_t position, unsigned bits) const noexcept {
    const auto value = imm(position);
    if (!value) return fail(value.error());
    return wrapAlignedSigned(*value, bits, 1);
  }
  Status setUnsignedBits(Slot slot, std::size_t position, Result<std::uint8_t> bits) noexcept {
    if (!bits) return fail(bits.error());
    const auto value = imm(position);
    if (!value) return fail(value.error());
    const auto checked = unsignedRange(static_cast<std::uint64_t>(*value), *bits);
    if (!checked) return fail(checked.error());
    values[slot] = *checked;
    return {};
  }
  Status setFieldWidth(Slot slot, std::size_t position, std::string_view field) noexcept {
    return setUnsignedBits(slot, position, fieldBits(fields(), field));
  }
  Status storeSplit(std::size_t position) noexcept {
    const auto t = signedValue(position, 12);
    if (!t) return fail(t.error());
    values[kImm12Hi] = *t >> 5;
    values[kImm12Lo] = *t & 31;
    return {};
  }
  Result<std::uint32_t> branchOffset(std::size_t position) const noexcept {
    const auto value = imm(position);
    if (!value) return fail(value.error());
    return wrapAlignedSigned(*value, 13, 2);
  }
  Status branch(std::size_t position, Slot high, Slot low) noexcept {
    const auto o = branchOffset(position);
    if (!o) return fail(o.error());
    values[high] = (*o >> 12 & 1) << 6 | (*o >> 5 & 63);
    values[low] = (*o >> 1 & 15) << 1 | (*o >> 11 & 1);
    return {};
  }
  Status jump(std::size_t position) noexcept {
    const auto value = imm(position);
    if (!value) return fail(value.error());
    const auto o = wrapAlignedSigned(*value, 21, 2);
    if (!o) return fail(o.error());
    values[kJimm20] = (*o >> 20 & 1) << 19 | (*o >> 1 & 1023) << 9 | (*o >> 11 & 1) << 8 | (*o >> 12 & 255);
    return {};
  }

  // The register field of a compressed row decides which registers it takes.
  Status compressedRegisterRule(std::size_t position) noexcept {
    const auto number = reg(position);
    if (!number) return fail(number.error());
    if (hasField(fields(), "rd_rs1_p")) {
      if (*number < 8 || *number > 15) return fail(Error::RegisterOutOfRange);
    } else if (hasField(fields(), "rd_rs1_n0") || hasField(fields(), "rd_n0")) {
      if (*number == 0) return fail(Error::RegisterOutOfRange);
    } else if (!hasField(fields(), "rd")) {
      return fail(Error::UnsupportedInstruction);
    }
    values[kRd] = *number;
    values[kRdP] = (*number >= 8 && *number <= 15) ? *number - 8 : 0;
    return {};
  }
  Status compressedOffset(std::size_t position) noexcept {
    const auto offset = imm(position);
    if (!offset) return fail(offset.error());
    const auto filled = fillCompressedOffset(row_, values, *offset);
    if (!filled) return fail(filled.error());
    values = *filled;
    return {};
  }

 private:
  const RiscvInstructionRow& row_;
  std::span<const RiscvOperand> operands_;
};

Status requireNonZero(const Reader& reader, Slot slot) {
  if (reader.values[slot] == 0) return fail(Error::RegisterOutOfRange);
  return {};
}

// Kinds 1 to 40: scalar rows.
Status scalarKind(Reader& r, std::uint8_t kind) {
  switch (kind) {
    case 1:
      return {};
    case 2:
      return r.setReg(kRd, 1);
    case 3:
      QOVRIN_TRY(r.setReg(kRd, 1));
      return requireNonZero(r, kRd);
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
      if (kind == 9 && r.values[kRd] % 2 != 0) return fail(Error::RegisterOutOfRange);
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
      if (static_cast<std::uint64_t>(*amount) > 63) return fail(Error::ImmediateOutOfRange);
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
// stand-in 0 of an unresolved symbol; their check waits for the real value.
template <typename Compute>
Status nonZeroImmediate(Reader& r, std::size_t position, Compute compute) {
  const auto value = r.imm(position);
  if (!value) return fail(value.error());
  if (r.pending(position)) return {};
  return compute(*value);
}

Status splitInto(Reader& r, Slot high, Slot low, const Result<SplitField>& split) {
  if (!split) return fail(split.error());
  r.values[high] = split->high;
  r.values[low] = split->low;
  return {};
}

// Kinds 67 to 87: compressed rows.
Status compressedKind(Reader& r, std::uint8_t kind) {
  switch (kind) {
    case 67:
      return {};
    case 68:
      return r.setAtMost(kCMopT, 1, 7);
    case 69:
      QOVRIN_TRY(r.setReg(kRs1, 1));
      return requireNonZero(r, kRs1);
    case 70:
      return r.compressedRegisterRule(1);
    case 71:
      QOVRIN_TRY(r.setReg(kRd, 1));
      QOVRIN_TRY(r.setReg(kRs2, 2));
      QOVRIN_TRY(requireNonZero(r, kRd));
      return requireNonZero(r, kRs2);
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
      if (!u) return fail(u.error());
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
      if (!field) return fail(field.error());
      r.values[kCImm12] = *field;
      return {};
    }
    case 81: {
      const auto offset = r.imm(2);
      if (!offset) return fail(offset.error());
      QOVRIN_TRY(splitInto(r, kCBimm9Hi, kCBimm9Lo, compressedBranchOffset(*offset)));
      return r.setCompressedReg(kRs1P, 1);
    }
    case 82:
      return nonZeroImmediate(r, 1, [&r](std::int64_t value) {
        return splitInto(r, kCNzimm10Hi, kCNzimm10Lo, compressedAddi16spImmediate(value));
      });
    case 83:
      QOVRIN_TRY(nonZeroImmediate(r, 2, [&r](std::int64_t value) {
        return splitInto(r, kCNzimm18Hi, kCNzimm18Lo, compressedLuiImmediate(value));
      }));
      QOVRIN_TRY(r.setReg(kRd, 1));
      if (r.values[kRd] == 0 || r.values[kRd] == 2) return fail(Error::RegisterOutOfRange);
      return {};
    case 84:
      QOVRIN_TRY(r.setCompressedReg(kRdP, 1));
      return nonZeroImmediate(r, 2, [&r](std::int64_t value) -> Status {
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

// Kinds 88 to 100: register pairs of the P extension and the remaining rows.
Status otherKind(Reader& r, std::uint8_t kind) {
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
      const auto offset = r.imm(2);
      if (!offset) return fail(offset.error());
      const auto t = wrapAlignedSigned(*offset, 12, 32);
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
      if (*r.reg(1) % 2 != 0) return fail(Error::RegisterOutOfRange);
      r.values[kRs2E] = *r.reg(1) >> 1;
      return r.setReg(kRs1, 2);
    default:
      return fail(Error::UnsupportedInstruction);
  }
}

}  // namespace

std::size_t kindOperandCount(std::uint8_t kind) noexcept { return kind < kOperandCounts.size() ? kOperandCounts[kind] : 0; }

qovrin::Result<RiscvFieldValues> semanticFieldValues(const RiscvInstructionRow& row,
                                                     std::span<const RiscvOperand> operands) noexcept {
  const std::uint8_t kind = row.kind;
  if (kind == 0 || kind > 100) return fail(Error::UnsupportedInstruction);
  if (operands.size() != kindOperandCount(kind)) return fail(Error::OperandCountMismatch);
  Reader reader(row, operands);
  Status status;
  if (kind <= 40)
    status = scalarKind(reader, kind);
  else if (kind <= 66)
    status = vectorKind(reader, kind);
  else if (kind <= 87)
    status = compressedKind(reader, kind);
  else
    status = otherKind(reader, kind);
  if (!status) return fail(status.error());
  return reader.values;
}

}  // namespace riscv_encoder::encode
