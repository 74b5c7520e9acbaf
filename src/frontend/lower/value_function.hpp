#pragma once
// Value functions (`fn name(...) -> type`) called from expressions: the
// arguments are evaluated in the caller's evaluation, the body runs in a
// call frame of its own.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/values/value.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::root {

// The value function of that name in the module, its arguments evaluated in
// the caller's evaluation. Failures are those an evaluation reports.
qovrin::Result<value::Value> evalModuleValueFunction(context::LowerContext& context, std::string_view name,
                                                     std::span<const expr::BuiltinArgument> arguments,
                                                     const expr::EvaluationContext& evaluation);

// The value-function hook of every evaluation lowering makes.
qovrin::Result<value::Value> evalUserValueFunction(context::LowerContext& context, std::string_view name,
                                                   std::span<const expr::BuiltinArgument> arguments,
                                                   const expr::EvaluationContext& evaluation);

}  // namespace frontend::lower::root
