#pragma once
// Checks the operands of a line against the row's operand-syntax kind and
// computes the value of every field the row can name.

#include <span>

#include "common/error.hpp"
#include "riscv_encoder/field_values.hpp"
#include "riscv_encoder/operand.hpp"
#include "riscv_encoder/table_rows.hpp"

namespace riscv_encoder::encode {

qovrin::Result<RiscvFieldValues> semanticFieldValues(const RiscvInstructionRow& row,
                                                     std::span<const RiscvOperand> operands) noexcept;

}  // namespace riscv_encoder::encode
