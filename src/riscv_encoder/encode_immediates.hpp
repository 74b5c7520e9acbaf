#pragma once
// Range and alignment checks of immediates, and the scatter of compressed
// immediates and offsets into their split fields.

#include <cstdint>

#include "common/error.hpp"
#include "riscv_encoder/failure.hpp"
#include "riscv_encoder/field_values.hpp"
#include "riscv_encoder/table_rows.hpp"

namespace riscv_encoder::encode {

// A multiple of `alignment` in the signed range of `bits`, as its bits-wide
// two's complement. Alignment is tested first.
qovrin::Result<std::uint32_t> wrapAlignedSigned(std::int64_t value, unsigned bits, std::int64_t alignment) noexcept;

// A value in 0 .. 2^bits - 1 read as signed, so every negative value fails.
qovrin::Result<std::uint32_t> unsignedRange(std::uint64_t value, unsigned bits) noexcept;

struct SplitField {
  std::uint32_t high;
  std::uint32_t low;
};

// The values each compressed immediate takes; a row's load or store offset
// takes the rule of the offset field it carries (UnsupportedInstruction when
// it carries none).
inline constexpr ImmediateRule kAddi4spnRule{4, 1020, 4, true};
inline constexpr ImmediateRule kLuiRule{-131072, 126976, 4096, true};
inline constexpr ImmediateRule kAddi16spRule{-512, 496, 16, true};
inline constexpr ImmediateRule kCompressedBranchRule{-256, 254, 2, false};
inline constexpr ImmediateRule kCompressedJumpRule{-2048, 2046, 2, false};
qovrin::Result<ImmediateRule> compressedOffsetRule(const RiscvInstructionRow& row) noexcept;

qovrin::Result<std::uint32_t> compressedAddi4spnImmediate(std::int64_t value) noexcept;
qovrin::Result<SplitField> compressedLuiImmediate(std::int64_t value) noexcept;
qovrin::Result<SplitField> compressedAddi16spImmediate(std::int64_t value) noexcept;
qovrin::Result<SplitField> compressedBranchOffset(std::int64_t value) noexcept;
qovrin::Result<std::uint32_t> compressedJumpOffset(std::int64_t value) noexcept;

// Places the offset of a compressed load or store into the offset fields
// that the row carries; the register slots of `values` stay as they are.
qovrin::Result<RiscvFieldValues> fillCompressedOffset(const RiscvInstructionRow& row, RiscvFieldValues values,
                                                      std::int64_t offset) noexcept;

}  // namespace riscv_encoder::encode
