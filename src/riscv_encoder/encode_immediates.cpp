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

// Unsigned scaled offsets: sign, then alignment, then the upper bound.
qovrin::Status checkScaledOffset(std::int64_t value, std::int64_t alignment, std::int64_t limit) noexcept {
  if (value < 0) return fail(Error::ImmediateOutOfRange);
  if (value % alignment != 0) return fail(Error::ImmediateAlignment);
  if (value >= limit) return fail(Error::ImmediateOutOfRange);
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
  if (value == 0) return fail(Error::ImmediateOutOfRange);
  QOVRIN_TRY(checkScaledOffset(value, 4, 1024));
  const auto v = static_cast<std::uint64_t>(value);
  return bit(v, 3) | bit(v, 2) << 1 | bits(v, 6, 4) << 2 | bits(v, 4, 2) << 6;
}

qovrin::Result<SplitField> compressedLuiImmediate(std::int64_t value) noexcept {
  if (value == 0) return fail(Error::ImmediateOutOfRange);
  if (value % 4096 != 0) return fail(Error::ImmediateAlignment);
  if (value < -131072 || value > 131071) return fail(Error::ImmediateOutOfRange);
  const std::uint64_t t = twosComplement(value, 18);
  return SplitField{bit(t, 17), bits(t, 12, 5)};
}

qovrin::Result<SplitField> compressedAddi16spImmediate(std::int64_t value) noexcept {
  if (value == 0) return fail(Error::ImmediateOutOfRange);
  if (value % 16 != 0) return fail(Error::ImmediateAlignment);
  if (value < -512 || value > 511) return fail(Error::ImmediateOutOfRange);
  const std::uint64_t t = twosComplement(value, 10);
  return SplitField{bit(t, 9), bit(t, 5) | bit(t, 7) << 1 | bit(t, 8) << 2 | bit(t, 6) << 3 | bit(t, 4) << 4};
}

qovrin::Result<SplitField> compressedBranchOffset(std::int64_t value) noexcept {
  if (value % 2 != 0) return fail(Error::ImmediateAlignment);
  if (value < -256 || value > 255) return fail(Error::ImmediateOutOfRange);
  const std::uint64_t t = twosComplement(value, 9);
  return SplitField{bit(t, 8) << 2 | bits(t, 3, 2), bit(t, 5) | bits(t, 1, 2) << 1 | bits(t, 6, 2) << 3};
}

qovrin::Result<std::uint32_t> compressedJumpOffset(std::int64_t value) noexcept {
  if (value % 2 != 0) return fail(Error::ImmediateAlignment);
  if (value < -2048 || value > 2047) return fail(Error::ImmediateOutOfRange);
  const std::uint64_t t = twosComplement(value, 12);
  // Field bits 10 down to 0 hold offset bits 11, 4, 9, 8, 10, 6, 7, 3, 2, 1, 5.
  constexpr unsigned kOrder[] = {11, 4, 9, 8, 10, 6, 7, 3, 2, 1, 5};
  std::uint32_t field = 0;
  for (const unsigned source : kOrder) field = field << 1 | bit(t, source);
  return field;
}

qovrin::Result<RiscvFieldValues> fillCompressedOffset(const RiscvInstructionRow& row, RiscvFieldValues values,
                                                      std::int64_t offset) noexcept {
  const auto v = static_cast<std::uint64_t>(offset);
  const Fields fields = row.fields;
  if (hasField(fields, "c_uimm1")) {
    QOVRIN_TRY(checkScaledOffset(offset, 2, 4));
    values[kCUimm1] = bit(v, 1);
  } else if (hasField(fields, "c_uimm2")) {
    if (v > 3) return fail(Error::ImmediateOutOfRange);
    // Offset bit 0 sits at instruction bit 6, bit 1 at bit 5.
    values[kCUimm2] = bit(v, 0) << 1 | bit(v, 1);
  } else if (hasField(fields, "c_uimm7lo")) {
    QOVRIN_TRY(checkScaledOffset(offset, 4, 128));
    values[kCUimm7Hi] = bits(v, 3, 3);
    values[kCUimm7Lo] = bit(v, 2) << 1 | bit(v, 6);
  } else if (hasField(fields, "c_uimm8lo")) {
    QOVRIN_TRY(checkScaledOffset(offset, 8, 256));
    values[kCUimm8Hi] = bits(v, 3, 3);
    values[kCUimm8Lo] = bits(v, 6, 2);
  } else if (hasField(fields, "c_uimm8sphi") || hasField(fields, "c_uimm8splo")) {
    QOVRIN_TRY(checkScaledOffset(offset, 4, 256));
    values[kCUimm8SpHi] = bit(v, 5);
    values[kCUimm8SpLo] = bits(v, 2, 3) << 2 | bits(v, 6, 2);
  } else if (hasField(fields, "c_uimm8sp_s")) {
    QOVRIN_TRY(checkScaledOffset(offset, 4, 256));
    values[kCUimm8SpS] = bits(v, 2, 4) << 2 | bits(v, 6, 2);
  } else if (hasField(fields, "c_uimm9sphi") || hasField(fields, "c_uimm9splo")) {
    QOVRIN_TRY(checkScaledOffset(offset, 8, 512));
    values[kCUimm9SpHi] = bit(v, 5);
    values[kCUimm9SpLo] = bits(v, 3, 2) << 3 | bits(v, 6, 3);
  } else if (hasField(fields, "c_uimm9sp_s")) {
    QOVRIN_TRY(checkScaledOffset(offset, 8, 512));
    values[kCUimm9SpS] = bits(v, 3, 3) << 3 | bits(v, 6, 3);
  } else {
    return fail(Error::UnsupportedInstruction);
  }
  return values;
}

}  // namespace riscv_encoder::encode
