#pragma once
// Instruction lines inside a macro body that name one of its operands: the
// operand is put back as the text its caller wrote, with the caller's names
// resolved as the caller saw them.

#include <optional>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"

namespace frontend::lower::operand_line {

// The line rendered with its operands, or nothing when the line names no
// operand (or stands outside any call). An open quote fails with
// InvalidMacroOperands, a layout builtin call that gives no integer with
// InvalidExpression.
qovrin::Result<std::optional<std::string>> lowerOperandLine(module::Module& module, context::LowerContext& context,
                                                            const contracts::ActiveOutput& cursor,
                                                            std::string_view text);

}  // namespace frontend::lower::operand_line
