#pragma once
// What the notes read of lowering: call arguments as values, a store's
// target, an expression as source text, the evaluation at the cursor, the
// name tables of the built-in calls and why a value function call failed.
// These stand apart from the headers that lower statements, so the notes
// need none of them and lowering may include the notes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/values/value.hpp"

namespace frontend::lower::root {

qovrin::Result<value::Value> valueArgAtContext(module::Module& module, context::LowerContext& context,
                                               const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                               std::size_t index);

// An expression argument evaluated as an integer; a string or struct literal
// is InvalidApiArgument, an index past the arguments InvalidApiArity.
qovrin::Result<std::uint64_t> integerArgAtContext(module::Module& module, context::LowerContext& context,
                                                  const contracts::ActiveOutput& cursor,
                                                  const ast::ApiCallStatement& call, std::size_t index);

// A call argument that names a file or section: a string literal as written,
// else an expression that must give a string (InvalidApiArgument).
qovrin::Result<std::string> sourcePathArgAtContext(module::Module& module, context::LowerContext& context,
                                                   const contracts::ActiveOutput& cursor,
                                                   const ast::ApiCallStatement& call, std::size_t index);

struct StoreTarget {
  std::uint64_t address = 0;  // absolute, below 2^63
  std::uint32_t section = 0;
};

qovrin::Result<StoreTarget> outputStoreTargetAtContext(module::Module& module, context::LowerContext& context,
                                                       const contracts::ActiveOutput& cursor,
                                                       const ast::ApiCallStatement& call, std::size_t index);

// What went wrong in a failed call of the value function of that name,
// found by calling it again: the argument count, a type name that names no
// type, an argument or result of the wrong kind or width, a missing return.
// Nothing when there is no such function or the call now succeeds.
// The limit a value call ran into, by what it failed with: how deep calls
// nest, or the stack the run got; none for any other failure.
std::optional<std::string> valueCallLimitNote(const context::ValueCallFailure& failure);

std::optional<std::string> explainValueFunctionCall(context::LowerContext& context, std::string_view name,
                                                    std::span<const expr::BuiltinArgument> arguments,
                                                    const expr::EvaluationContext& evaluation);

}  // namespace frontend::lower::root

namespace frontend::lower::deferred {

// Every unary and binary operation is parenthesised, but for the links below
// the top of a chain of one level, so the text reads back to the same tree:
// "(nope + 1)", "(a - 1 + b)".
std::string renderExpressionSource(const expr::Node& node);

}  // namespace frontend::lower::deferred

namespace frontend::lower::expression_bridge {

// Evaluator failures as lowering reports them; codes the evaluator does not
// share with lowering (syntax and kind errors) become InvalidExpression.
qovrin::Error mapExpressionError(qovrin::Error error) noexcept;

// What an evaluation at the cursor sees, with the given caller services.
expr::EvaluationContext evaluationContextAt(module::Module& module, context::LowerContext& context,
                                            const contracts::ActiveOutput& cursor, const expr::EvaluationHooks& hooks);

}  // namespace frontend::lower::expression_bridge

namespace frontend::lower::diagnostic_format {

// Appends a value as a message shows it: scalars as text, strings without
// quotes, containers and types by kind and count or id ("list#3").
void appendValueText(std::string& out, const value::Value& value);

}  // namespace frontend::lower::diagnostic_format

namespace frontend::lower::api {

enum class DataKind : std::uint8_t { data = 0, float_data = 1, reserve = 2 };

struct DataOperation {
  std::uint64_t unit = 0;  // bytes per argument (data, float) or per counted item (reserve)
  DataKind kind = DataKind::data;
};

// db..ddqq, rb..rdqq, emit.f32 and emit.f64.
std::optional<DataOperation> dataOperation(std::string_view name) noexcept;

// store.u8, store.u16, store.u32, store.u64.
std::optional<std::uint8_t> storeByteCount(std::string_view name) noexcept;

// Whether the name is one of the built-in calls of a statement line.
bool isCallName(std::string_view name) noexcept;

}  // namespace frontend::lower::api

namespace frontend::lower::collection_mutation {

// The three calls that change a list or map in place, for the notes that
// list a family's members.
inline constexpr std::array<std::string_view, 3> kMutationNames = {"list.push_mut", "list.set_mut", "map.set_mut"};

}  // namespace frontend::lower::collection_mutation
