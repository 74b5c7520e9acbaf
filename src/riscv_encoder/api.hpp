#pragma once
// RISC-V register names and the other names the encoder reads in operand
// text, readable wherever a line is read before it is encoded.

#include <cstdint>
#include <string_view>

#include "common/error.hpp"

namespace riscv_encoder::api {

// The number of an integer or floating-point ABI name, or of xN / fN / vN
// (N below 32, "_" allowed between digits); the register class is not checked.
// RegisterOutOfRange for anything else.
qovrin::Result<std::uint8_t> parseRegister(std::string_view text) noexcept;

// Whether an operand word of a line with this written mnemonic ("fadd.s",
// "CSRR") names a value the encoder reads itself: a rounding mode of a row
// with a rounding-mode field, a fence set of one with predecessor and
// successor sets, a CSR name of one with a CSR field. Elsewhere the encoder
// reads those words as other operands, so they name nothing there.
bool namesOperandValue(std::string_view mnemonic, std::string_view word) noexcept;

}  // namespace riscv_encoder::api
