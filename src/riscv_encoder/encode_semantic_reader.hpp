#pragma once
// Reads the operands of one line by position for the operand-syntax kinds and
// writes the field slots; shared by the kind groups of semanticFieldValues.

#include <bit>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "riscv_encoder/encode_fields.hpp"
#include "riscv_encoder/encode_immediates.hpp"
#include "riscv_encoder/failure.hpp"
#include "riscv_encoder/field_values.hpp"
#include "riscv_encoder/operand.hpp"
#include "riscv_encoder/table_rows.hpp"

namespace riscv_encoder::encode::semantic {

using qovrin::Error;
using qovrin::fail;
using qovrin::Result;
using qovrin::Status;

// Reads the operands of one line by position (numbered from 1, as the kinds
// are described) and writes the slots.
class Reader {
 public:
  // With `naming` set the operands are stand-ins of either kind, read only
  // to write each position's field name into `failure`.
  Reader(const RiscvInstructionRow& row, std::span<const RiscvOperand> operands, RiscvFailure* failure = nullptr,
         bool naming = false)
      : row_(row), operands_(operands), failure_(failure), naming_(naming && failure != nullptr) {}

  RiscvFieldValues values;

  Fields fields() const noexcept { return row_.fields; }

  Result<std::uint32_t> reg(std::size_t position) const noexcept {
    const RiscvOperand& operand = operands_[position - 1];
    // x8 passes every register rule, the compressed ones included.
    if (naming_) return 8u;
    if (operand.isImmediate()) return fail(wrongKind(position, true));
    return static_cast<std::uint32_t>(operand.value & 31);
  }
  Result<std::int64_t> imm(std::size_t position) const noexcept {
    const RiscvOperand& operand = operands_[position - 1];
    if (naming_) return std::int64_t{0};
    if (!operand.isImmediate()) return fail(wrongKind(position, false));
    return static_cast<std::int64_t>(operand.value);
  }
  bool pending(std::size_t position) const noexcept { return operands_[position - 1].isPending(); }

  Status setReg(Slot slot, std::size_t position) noexcept {
    name(position, slot);
    const auto number = reg(position);
    if (!number) return fail(number.error());
    values[slot] = *number;
    return {};
  }
  // A compressed 3-bit register field: x8..x15 only.
  Status setCompressedReg(Slot slot, std::size_t position) noexcept {
    name(position, slot);
    const auto number = reg(position);
    if (!number) return fail(number.error());
    if (*number < 8 || *number > 15) return refuseRegister(position, *number, RegisterRule::compressed);
    values[slot] = *number - 8;
    return {};
  }
  Status setAtMost(Slot slot, std::size_t position, std::uint64_t limit) noexcept {
    name(position, slot);
    const auto value = imm(position);
    if (!value) return fail(value.error());
    if (static_cast<std::uint64_t>(*value) > limit) return outOfRange(*value, std::bit_width(limit), false);
    values[slot] = static_cast<std::uint32_t>(*value);
    return {};
  }
  Status setSigned(Slot slot, std::size_t position, unsigned bits) noexcept {
    name(position, slot);
    const auto value = signedValue(position, bits);
    if (!value) return fail(value.error());
    values[slot] = *value;
    return {};
  }
  Result<std::uint32_t> signedValue(std::size_t position, unsigned bits) const noexcept {
    const auto value = imm(position);
    if (!value) return fail(value.error());
    return checkedSigned(*value, bits, 1);
  }
  Status setUnsignedBits(Slot slot, std::size_t position, Result<std::uint8_t> bits) noexcept {
    name(position, slot);
    if (!bits) return fail(bits.error());
    const auto value = imm(position);
    if (!value) return fail(value.error());
    const auto checked = unsignedRange(static_cast<std::uint64_t>(*value), *bits);
    if (!checked && checked.error() == Error::ImmediateOutOfRange) return outOfRange(*value, *bits, false);
    if (!checked) return fail(checked.error());
    values[slot] = *checked;
    return {};
  }
  Status setFieldWidth(Slot slot, std::size_t position, std::string_view field) noexcept {
    return setUnsignedBits(slot, position, fieldBits(fields(), field));
  }
  Status storeSplit(std::size_t position) noexcept {
    name(position, "offset");
    const auto t = offsetValue(position, 12, 1);
    if (!t) return fail(t.error());
    values[kImm12Hi] = *t >> 5;
    values[kImm12Lo] = *t & 31;
    return {};
  }
  Result<std::uint32_t> offsetValue(std::size_t position, unsigned bits, std::int64_t alignment) const noexcept {
    const auto value = imm(position);
    if (!value) return fail(value.error());
    if (failure_ != nullptr) failure_->subject = "offset";
    return checkedSigned(*value, bits, alignment);
  }
  Status branch(std::size_t position, Slot high, Slot low) noexcept {
    name(position, "offset");
    const auto o = offsetValue(position, 13, 2);
    if (!o) return fail(o.error());
    values[high] = (*o >> 12 & 1) << 6 | (*o >> 5 & 63);
    values[low] = (*o >> 1 & 15) << 1 | (*o >> 11 & 1);
    return {};
  }
  Status jump(std::size_t position) noexcept {
    name(position, "offset");
    const auto o = offsetValue(position, 21, 2);
    if (!o) return fail(o.error());
    values[kJimm20] = (*o >> 20 & 1) << 19 | (*o >> 1 & 1023) << 9 | (*o >> 11 & 1) << 8 | (*o >> 12 & 255);
    return {};
  }

  // The register field of a compressed row decides which registers it takes.
  Status compressedRegisterRule(std::size_t position) noexcept {
    name(position, kRd);
    const auto number = reg(position);
    if (!number) return fail(number.error());
    if (hasField(fields(), "rd_rs1_p")) {
      if (*number < 8 || *number > 15) return refuseRegister(position, *number, RegisterRule::compressed);
    } else if (hasField(fields(), "rd_rs1_n0") || hasField(fields(), "rd_n0")) {
      if (*number == 0) return refuseRegister(position, *number, RegisterRule::not_zero);
    } else if (!hasField(fields(), "rd")) {
      return fail(Error::UnsupportedInstruction);
    }
    values[kRd] = *number;
    values[kRdP] = (*number >= 8 && *number <= 15) ? *number - 8 : 0;
    return {};
  }
  Status compressedOffset(std::size_t position) noexcept {
    name(position, "offset");
    const auto offset = imm(position);
    if (!offset) return fail(offset.error());
    const auto filled = fillCompressedOffset(row_, values, *offset);
    if (!filled) return refuseOffset(filled.error(), *offset, compressedOffsetRule(row_));
    values = *filled;
    return {};
  }

  Status outOfRange(std::int64_t value, unsigned bits, bool is_signed) const noexcept {
    if (failure_ != nullptr) {
      failure_->part = RiscvFailure::Part::immediate_range;
      failure_->value = value;
      failure_->bits = static_cast<std::uint8_t>(bits);
      failure_->is_signed = is_signed;
    }
    return fail(Error::ImmediateOutOfRange);
  }
  // A register the row's field does not take; `number` is as read.
  Status refuseRegister(std::size_t position, std::uint32_t number, RegisterRule rule) const noexcept {
    if (describing()) {
      failure_->part = RiscvFailure::Part::register_rule;
      failure_->position = static_cast<std::uint8_t>(position);
      failure_->value = number;
      failure_->register_rule = rule;
    }
    return fail(Error::RegisterOutOfRange);
  }
  Status nonZero(Slot slot, std::size_t position) const noexcept {
    if (values[slot] == 0) return refuseRegister(position, 0, RegisterRule::not_zero);
    return {};
  }
  Status refuseOffset(Error error, std::int64_t value, const Result<ImmediateRule>& rule) const noexcept {
    if (failure_ != nullptr) failure_->subject = "offset";
    return refuseImmediate(error, value, rule);
  }
  // A value that one of the compressed checks refused with `error`.
  Status refuseImmediate(Error error, std::int64_t value, const Result<ImmediateRule>& rule) const noexcept {
    if (describing() && rule && (error == Error::ImmediateOutOfRange || error == Error::ImmediateAlignment)) {
      failure_->part =
          error == Error::ImmediateAlignment ? RiscvFailure::Part::alignment : RiscvFailure::Part::immediate_rule;
      failure_->value = value;
      failure_->rule = *rule;
    }
    return fail(error);
  }

 private:
  bool describing() const noexcept { return failure_ != nullptr && !naming_; }
  Error wrongKind(std::size_t position, bool wants_register) const noexcept {
    if (describing()) {
      failure_->part = RiscvFailure::Part::operand_kind;
      failure_->position = static_cast<std::uint8_t>(position);
      failure_->wants_register = wants_register;
    }
    return Error::OperandKindMismatch;
  }
  void name(std::size_t position, std::string_view field) noexcept {
    if (naming_ && failure_->names[position - 1].empty()) failure_->names[position - 1] = field;
  }
  void name(std::size_t position, Slot slot) noexcept { name(position, kSlotNames[slot].name); }

  Result<std::uint32_t> checkedSigned(std::int64_t value, unsigned bits, std::int64_t alignment) const noexcept {
    const auto wrapped = wrapAlignedSigned(value, bits, alignment);
    if (!wrapped && wrapped.error() == Error::ImmediateOutOfRange) return fail(outOfRange(value, bits, true).error());
    if (!wrapped && wrapped.error() == Error::ImmediateAlignment)
      return fail(refuseImmediate(Error::ImmediateAlignment, value, ImmediateRule{0, 0, alignment, false}).error());
    return wrapped;
  }

  const RiscvInstructionRow& row_;
  std::span<const RiscvOperand> operands_;
  RiscvFailure* failure_;
  bool naming_;
};

// Each group answers UnsupportedInstruction for a kind outside it.
Status scalarKind(Reader& r, std::uint8_t kind);      // 1 to 40
Status vectorKind(Reader& r, std::uint8_t kind);      // 41 to 66
Status compressedKind(Reader& r, std::uint8_t kind);  // 67 to 87
Status pairedKind(Reader& r, std::uint8_t kind);      // 88 to 100

}  // namespace riscv_encoder::encode::semantic
