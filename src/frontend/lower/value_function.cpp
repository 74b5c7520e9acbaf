// Value functions: `fn name(...) -> type` called from inside an expression.

#include "frontend/lower/value_function.hpp"

#include <utility>
#include <vector>

#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/meta_function_runtime.hpp"

namespace frontend::lower::root {

using meta_function_runtime::CallFrame;
using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

// What a value call changes in the context besides the call depth, put back
// on every way out.
class ValueCallState {
 public:
  ValueCallState(context::LowerContext& context, const output::image::Image* image)
      : context_(context),
        saved_return_(std::exchange(context.pending_return, std::nullopt)),
        saved_image_(std::exchange(context.output_image, image)) {
    ++context_.value_function_depth;
  }
  ~ValueCallState() {
    --context_.value_function_depth;
    context_.pending_return = std::move(saved_return_);
    context_.output_image = saved_image_;
  }
  ValueCallState(const ValueCallState&) = delete;
  ValueCallState& operator=(const ValueCallState&) = delete;

 private:
  context::LowerContext& context_;
  std::optional<Value> saved_return_;
  const output::image::Image* saved_image_;
};

qovrin::Result<Value> callValueFunction(context::LowerContext& context, const ast::MetaFunctionStatement& function,
                                        std::span<const expr::BuiltinArgument> arguments,
                                        const expr::EvaluationContext& evaluation) {
  module::Module& module = evaluation.module;
  if (!evaluation.current_section) return fail(Error::MissingEvaluationContext);
  if (arguments.size() != function.params.size()) return fail(Error::InvalidApiArity);
  CallFrame frame(context);
  QOVRIN_TRY(frame.enter());
  const ValueCallState state(context, evaluation.image);

  contracts::ActiveOutput cursor{evaluation.offset, evaluation.file_cursor.value_or(evaluation.offset),
                                 *evaluation.current_section, module.target(), false};

  std::vector<Value> values;
  values.reserve(arguments.size());
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    auto argument = expr::evaluateBuiltinValueArg(arguments[index], evaluation);
    if (!argument) return fail(argument.error());
    if (const auto& type_name = function.params[index].type_name)
      QOVRIN_TRY(meta_function_runtime::coerceToTypeName(module, *argument, *type_name));
    values.push_back(std::move(*argument));
  }

  const context::ScopeGuard scope(context);
  for (std::size_t index = 0; index < values.size(); ++index)
    QOVRIN_TRY(context::defineLocalValue(context, function.params[index].name, std::move(values[index]),
                                         function.params[index].is_mutable));
  ActiveOutputStack active_outputs;
  const auto lowered = lowerStatementSlice(module, cursor, active_outputs, function.body, context);
  if (!lowered && lowered.error() != Error::MetaFunctionReturned) return fail(lowered.error());
  if (!context.pending_return) return fail(Error::MissingMetaReturn);
  Value result = std::move(*context.pending_return);
  context.pending_return.reset();
  QOVRIN_TRY(meta_function_runtime::coerceToTypeName(module, result, *function.return_type));
  return result;
}

}  // namespace

qovrin::Result<Value> evalModuleValueFunction(context::LowerContext& context, std::string_view name,
                                              std::span<const expr::BuiltinArgument> arguments,
                                              const expr::EvaluationContext& evaluation) {
  const meta_function::Store& functions = evaluation.module.metaFunctions();
  const auto index = functions.find(name);
  if (!index) return fail(Error::UndefinedSymbol);
  auto result = callValueFunction(context, functions.at(*index), arguments, evaluation);
  if (!result) return fail(expression_bridge::mapLowerErrorToExpression(result.error()));
  return result;
}

qovrin::Result<Value> evalUserValueFunction(context::LowerContext& context, std::string_view name,
                                            std::span<const expr::BuiltinArgument> arguments,
                                            const expr::EvaluationContext& evaluation) {
  return evalModuleValueFunction(context, name, arguments, evaluation);
}

}  // namespace frontend::lower::root
