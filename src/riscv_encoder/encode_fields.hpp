#pragma once
// Reading field values by name, packing them into the instruction word, and
// the widths of the fields whose size varies between rows of one kind.

#include <cstdint>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "riscv_encoder/field_values.hpp"
#include "riscv_encoder/table_rows.hpp"

namespace riscv_encoder::encode {

using Fields = std::span<const RiscvFieldSpec>;

// The value of the field named `name`; UnsupportedInstruction when no slot reads it.
qovrin::Result<std::uint32_t> fieldValue(const RiscvFieldValues& values, std::string_view name) noexcept;

// The row's match word with every field value ORed in at its position;
// ImmediateOutOfRange when a value does not fit its field.
qovrin::Result<std::uint32_t> packInstruction(const RiscvInstructionRow& row, const RiscvFieldValues& values) noexcept;

bool hasField(Fields fields, std::string_view name) noexcept;

// Widths of the first field that matches; UnsupportedInstruction when none does.
qovrin::Result<std::uint8_t> fieldBits(Fields fields, std::string_view name) noexcept;
// shamtw anywhere in the list wins over shamtd.
qovrin::Result<std::uint8_t> shamtBits(Fields fields) noexcept;
qovrin::Result<std::uint8_t> pUimmBits(Fields fields) noexcept;
// The shift amount width of a compressed shift row: 6 with both halves of the
// split field, 5 for the RV32 rows that carry only 5 bits.
qovrin::Result<std::uint8_t> cUimmBits(Fields fields) noexcept;

}  // namespace riscv_encoder::encode
