#pragma once
// Numbers of SPIR-V operand text: plain words, integers and floats sized by
// the scalar type an instruction's result has.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "spirv_encoder/text.hpp"

namespace spirv_encoder::text {

// Decimal, or "0x"/"0X" hexadecimal, no sign; at most `bits` bits (1-64).
qovrin::Result<std::uint64_t> parseUnsigned(std::string_view token, unsigned bits) noexcept;

// Optional sign, then decimal or a "0x", "0o" or "0b" prefixed number, within
// the 64-bit two's-complement range.
qovrin::Result<std::int64_t> parseSigned(std::string_view token) noexcept;

// IEEE 754 bits of a decimal or hexadecimal ("0x1.8p+1") floating-point
// literal at the given width, rounded to nearest even. A decimal literal that
// overflows the width is refused. A hexadecimal one (bfloat16 aside) whose
// leading bit lies past the largest finite exponent gives the infinity or NaN
// that disassemblers write that way, as spirv-as reads it; one that rounds
// past the largest finite value gives an infinity.
qovrin::Result<std::uint16_t> parseFloat16(std::string_view token) noexcept;
qovrin::Result<std::uint16_t> parseBfloat16(std::string_view token) noexcept;
qovrin::Result<std::uint32_t> parseFloat32(std::string_view token) noexcept;
qovrin::Result<std::uint64_t> parseFloat64(std::string_view token) noexcept;

// The words of a literal number for a value of the given scalar type: one
// word up to 32 bits, two (low word first) above. Without a type, a token with
// ".", "p" or "P" is a single-precision float and any other a 32-bit word.
qovrin::Status appendTypedNumber(std::vector<std::uint32_t>& words, std::string_view token,
                                 std::optional<ScalarType> type);

}  // namespace spirv_encoder::text
