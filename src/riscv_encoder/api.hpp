#pragma once
// RISC-V register names, readable wherever a register must be named.

#include <cstdint>
#include <string_view>

#include "common/error.hpp"

namespace riscv_encoder::api {

// The number of an integer or floating-point ABI name, or of xN / fN / vN
// (N below 32, "_" allowed between digits); the register class is not checked.
// RegisterOutOfRange for anything else.
qovrin::Result<std::uint8_t> parseRegister(std::string_view text) noexcept;

}  // namespace riscv_encoder::api
