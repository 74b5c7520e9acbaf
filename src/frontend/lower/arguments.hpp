#pragma once
// API-call arguments as values: an expression is evaluated, a string literal
// is taken as written, a struct literal is built against its type.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/lower/aggregate_literal.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/value.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::arguments {

// InvalidApiArity for an index past the arguments.
qovrin::Result<value::Value> valueAtContext(module::Module& module, context::LowerContext& context,
                                            const contracts::ActiveOutput& cursor,
                                            std::span<const ast::ApiCallArgument> arguments, std::size_t index,
                                            const aggregate_literal::Evaluators& evaluators);

}  // namespace frontend::lower::arguments

namespace frontend::lower::root {

// The expression of an argument; InvalidApiArgument for a literal.
qovrin::Result<const expr::Node*> expressionArg(const ast::ApiCallStatement& call, std::size_t index);

}  // namespace frontend::lower::root
