#include "riscv_encoder/encode_immediates.hpp"

#include "riscv_encoder/encode_fields.hpp"

namespace riscv_encoder::encode {

using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::uint32_t bit(std::uint64_t value, unsigned position) noexcept {
  return static_cast<std::uint32_t>(value >> position) & 1u;
}

constexpr std::uint32_t bits(std::uint64_t value, unsigned low, unsigned count) noexcept {
  return static_cast<std::uint32_t>(value >> low) & ((1u << count) - 1u);
}

constexpr std::uint64_t twosComplement(std::int64_t value, unsigned width) noexcept {
  return static_cast<std::uint64_t>(value) & ((std::uint64_t{1} << width) - 1);
}

// A zero where it is refused, and a negative value where none is taken, fail
// on range before alignment is tested; every other value on alignment first.
qovrin::Status checkRule(std::int64_t value, const ImmediateRule& rule) noexcept {
  if ((rule.non_zero && value == 0) || (rule.minimum >= 0 && value < 0)) return fail(Error::ImmediateOutOfRange);
  if (value % rule.alignment != 0) return fail(Error::ImmediateAlignment);
  if (value < rule.minimum || value > rule.maximum) return fail(Error::ImmediateOutOfRange);
  return {};
}

}  // namespace

qovrin::Result<std::uint32_t> wrapAlignedSigned(std::int64_t value, unsigned bits_count,
                                                std::int64_t alignment) noexcept {
  if (value % alignment != 0) return fail(Error::ImmediateAlignment);
  const std::int64_t half = std::int64_t{1} << (bits_count - 1);
  if (value < -half || value > half - 1) return fail(Error::ImmediateOutOfRange);
  return static_cast<std::uint32_t>(twosComplement(value, bits_count));
}

qovrin::Result<std::uint32_t> unsignedRange(std::uint64_t value, unsigned bits_count) noexcept {
  if (static_cast<std::int64_t>(value) < 0 || value > (std::uint64_t{1} << bits_count) - 1)
    return fail(Error::ImmediateOutOfRange);
  return static_cast<std::uint32_t>(value);
}

qovrin::Result<std::uint32_t> compressedAddi4spnImmediate(std::int64_t value) noexcept {
  QOVRIN_TRY(checkRule(value, kAddi4spnRule));
  const auto v = static_cast<std::uint64_t>(value);
  return bit(v, 3) | bit(v, 2) << 1 | bits(v, 6, 4) << 2 | bits(v, 4, 2) << 6;
}

qovrin::Result<SplitField> compressedLuiImmediate(std::int64_t value) noexcept {
  QOVRIN_TRY(checkRule(value, kLuiRule));
  const std::uint64_t t = twosComplement(value, 18);
  return SplitField{bit(t, 17), bits(t, 12, 5)};
}

qovrin::Result<SplitField> compressedAddi16spImmediate(std::int64_t value) noexcept {
  QOVRIN_TRY(checkRule(value, kAddi16spRule));
  const std::uint64_t t = twosComplement(value, 10);
  return SplitField{bit(t, 9), bit(t, 5) | bit(t, 7) << 1 | bit(t, 8) << 2 | bit(t, 6) << 3 | bit(t, 4) << 4};
}

qovrin::Result<SplitField> compressedBranchOffset(std::int64_t value) noexcept {
  QOVRIN_TRY(checkRule(value, kCompressedBranchRule));
  const std::uint64_t t = twosComplement(value, 9);
  return SplitField{bit(t, 8) << 2 | bits(t, 3, 2), bit(t, 5) | bits(t, 1, 2) << 1 | bits(t, 6, 2) << 3};
}

qovrin::Result<std::uint32_t> compressedJumpOffset(std::int64_t value) noexcept {
  QOVRIN_TRY(checkRule(value, kCompressedJumpRule));
  const std::uint64_t t = twosComplement(value, 12);
  // Field bits 10 down to 0 hold offset bits 11, 4, 9, 8, 10, 6, 7, 3, 2, 1, 5.
  constexpr unsigned kOrder[] = {11, 4, 9, 8, 10, 6, 7, 3, 2, 1, 5};
  std::uint32_t field = 0;
  for (const unsigned source : kOrder) field = field << 1 | bit(t, source);
  return field;
}

namespace {

// Where a compressed load or store puts its offset, chosen by the offset
// field its row carries, and the offsets it takes.
enum class OffsetLayout : std::uint8_t { uimm1, uimm2, uimm7, uimm8, uimm8sp, uimm8sp_s, uimm9sp, uimm9sp_s };

struct OffsetForm {
  OffsetLayout layout;
  ImmediateRule rule;
};

qovrin::Result<OffsetForm> offsetForm(Fields fields) noexcept {
  if (hasField(fields, "c_uimm1")) return OffsetForm{OffsetLayout::uimm1, {0, 2, 2, false}};
  if (hasField(fields, "c_uimm2")) return OffsetForm{OffsetLayout::uimm2, {0, 3, 1, false}};
  if (hasField(fields, "c_uimm7lo")) return OffsetForm{OffsetLayout::uimm7, {0, 124, 4, false}};
  if (hasField(fields, "c_uimm8lo")) return OffsetForm{OffsetLayout::uimm8, {0, 248, 8, false}};
  if (hasField(fields, "c_uimm8sphi") || hasField(fields, "c_uimm8splo"))
    return OffsetForm{OffsetLayout::uimm8sp, {0, 252, 4, false}};
  if (hasField(fields, "c_uimm8sp_s")) return OffsetForm{OffsetLayout::uimm8sp_s, {0, 252, 4, false}};
  if (hasField(fields, "c_uimm9sphi") || hasField(fields, "c_uimm9splo"))
    return OffsetForm{OffsetLayout::uimm9sp, {0, 504, 8, false}};
  if (hasField(fields, "c_uimm9sp_s")) return OffsetForm{OffsetLayout::uimm9sp_s, {0, 504, 8, false}};
  return fail(Error::UnsupportedInstruction);
}

}  // namespace

qovrin::Result<ImmediateRule> compressedOffsetRule(const RiscvInstructionRow& row) noexcept {
  const auto form = offsetForm(row.fields);
  if (!form) return fail(form.error());
  return form->rule;
}

qovrin::Result<RiscvFieldValues> fillCompressedOffset(const RiscvInstructionRow& row, RiscvFieldValues values,
                                                      std::int64_t offset) noexcept {
  const auto form = offsetForm(row.fields);
  if (!form) return fail(form.error());
  QOVRIN_TRY(checkRule(offset, form->rule));
  const auto v = static_cast<std::uint64_t>(offset);
  switch (form->layout) {
    case OffsetLayout::uimm1:
      values[kCUimm1] = bit(v, 1);
      break;
    case OffsetLayout::uimm2:
      // Offset bit 0 sits at instruction bit 6, bit 1 at bit 5.
      values[kCUimm2] = bit(v, 0) << 1 | bit(v, 1);
      break;
    case OffsetLayout::uimm7:
      values[kCUimm7Hi] = bits(v, 3, 3);
      values[kCUimm7Lo] = bit(v, 2) << 1 | bit(v, 6);
      break;
    case OffsetLayout::uimm8:
      values[kCUimm8Hi] = bits(v, 3, 3);
      values[kCUimm8Lo] = bits(v, 6, 2);
      break;
    case OffsetLayout::uimm8sp:
      values[kCUimm8SpHi] = bit(v, 5);
      values[kCUimm8SpLo] = bits(v, 2, 3) << 2 | bits(v, 6, 2);
      break;
    case OffsetLayout::uimm8sp_s:
      values[kCUimm8SpS] = bits(v, 2, 4) << 2 | bits(v, 6, 2);
      break;
    case OffsetLayout::uimm9sp:
      values[kCUimm9SpHi] = bit(v, 5);
      values[kCUimm9SpLo] = bits(v, 3, 2) << 3 | bits(v, 6, 3);
      break;
    case OffsetLayout::uimm9sp_s:
      values[kCUimm9SpS] = bits(v, 3, 3) << 3 | bits(v, 6, 3);
      break;
  }
  return values;
}

}  // namespace riscv_encoder::encode
