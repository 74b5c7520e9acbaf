#pragma once
// Which part of a line the encoder refused, for a message that says more
// than the error code: the caller passes one in and reads it after a failure.

#include <array>
#include <cstdint>
#include <string_view>

#include "riscv_encoder/operand.hpp"

namespace riscv_encoder {

struct RiscvFailure {
  enum class Part : std::uint8_t {
    unknown = 0,          // nothing more than the error is known
    mnemonic = 1,         // no row has this mnemonic
    operand_count = 2,    // the row takes `operands` operands as written
    immediate_range = 3,  // `value` does not fit the `bits`-wide immediate
  };
  Part part = Part::unknown;
  std::uint8_t operands = 0;
  // The operands' field names in the order they are written; all empty when
  // they cannot be told.
  std::array<std::string_view, kMaxOperands> names{};
  std::int64_t value = 0;
  std::uint8_t bits = 0;
  bool is_signed = false;
};

}  // namespace riscv_encoder
