#pragma once
// Checks the operands of a line against the row's operand-syntax kind and
// computes the value of every field the row can name.

#include <span>

#include "common/error.hpp"
#include "riscv_encoder/failure.hpp"
#include "riscv_encoder/field_values.hpp"
#include "riscv_encoder/operand.hpp"
#include "riscv_encoder/table_rows.hpp"

namespace riscv_encoder::encode {

// A failure the encoder can name is described in `failure` when one is given.
qovrin::Result<RiscvFieldValues> semanticFieldValues(const RiscvInstructionRow& row,
                                                     std::span<const RiscvOperand> operands,
                                                     RiscvFailure* failure = nullptr) noexcept;

}  // namespace riscv_encoder::encode
