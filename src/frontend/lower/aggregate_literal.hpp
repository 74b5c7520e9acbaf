#pragma once
// Struct literals ("Type{ field: value, ... }") turned into struct values and
// checked against the declared struct or union type.

#include <cstdint>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/types.hpp"
#include "frontend/values/value.hpp"

namespace frontend::lower::aggregate_literal {

// How field expressions are evaluated: statement lowering uses the root
// evaluators, later phases their own.
struct Evaluators {
  qovrin::Result<std::uint64_t> (*integer)(module::Module&, context::LowerContext&, const contracts::ActiveOutput&,
                                           const expr::Node&);
  qovrin::Result<value::Value> (*value)(module::Module&, context::LowerContext&, const contracts::ActiveOutput&,
                                        const expr::Node&);
};

Evaluators standardEvaluators() noexcept;

// A struct value with the type's fields in declaration order (a union: the
// one field the literal selects).
qovrin::Result<value::Value> structValueFromLiteral(module::Module& module, context::LowerContext& context,
                                                    const contracts::ActiveOutput& cursor,
                                                    const ast::StructLiteralArgument& literal,
                                                    const Evaluators& evaluators);

// One field's value: the literal's, else the declared default of an integer field.
qovrin::Result<value::Value> valueFromLiteralField(module::Module& module, context::LowerContext& context,
                                                   const contracts::ActiveOutput& cursor,
                                                   const types::StructField& field,
                                                   const ast::StructLiteralField* literal,
                                                   const Evaluators& evaluators);

// DuplicateFieldName for a field named twice, UnknownField for one the type lacks.
qovrin::Status validateStructLiteralFields(const types::AggregateType& type, const ast::StructLiteralArgument& literal);

}  // namespace frontend::lower::aggregate_literal

namespace frontend::lower::root {

// The evaluator's struct-literal hook: raw "Type{ ... }" text at the
// evaluation's position.
qovrin::Result<value::Value> evalStructLiteralValue(context::LowerContext& context, std::string_view text,
                                                    const expr::EvaluationContext& evaluation);

}  // namespace frontend::lower::root
