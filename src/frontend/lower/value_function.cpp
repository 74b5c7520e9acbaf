// Value functions: `fn name(...) -> type` called from inside an expression.

#include "frontend/lower/value_function.hpp"

#include <utility>
#include <vector>

#include "common/display_text.hpp"
#include "common/work_stack.hpp"
#include "frontend/lower/diagnostic_format.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/macro.hpp"
#include "frontend/lower/meta_function_runtime.hpp"
#include "frontend/lower/notes/nesting_notes.hpp"
#include "frontend/values/type_name.hpp"
#include "frontend/values/typecheck.hpp"

namespace frontend::lower::root {

using meta_function_runtime::CallFrame;
using qovrin::Error;
using qovrin::fail;
using value::Value;

static_assert(macro::kMaxMetaCallDepth == 128);

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

// Where a call failed, for the note that explains it; filled only when asked.
struct CallFailure {
  enum class Stage : std::uint8_t { other, argument, body, result };
  Stage stage = Stage::other;
  std::size_t argument = 0;
  std::string value;  // the argument or result that did not match its type
  bool integer = false;
};

void recordMismatch(CallFailure* failure, CallFailure::Stage stage, std::size_t argument, const Value& value) {
  if (failure == nullptr) return;
  failure->stage = stage;
  failure->argument = argument;
  failure->value.clear();
  diagnostic_format::appendValueText(failure->value, value);
  failure->integer = value.asInteger() != nullptr;
}

// An integer too wide for a sized integer type "does not fit" it; anything
// else is of the wrong kind.
std::string mismatchText(const CallFailure& failure, std::string_view type) {
  const bool sized = failure.integer && !typecheck::annotationFromName(type);
  return failure.value + (sized ? ", which does not fit " : ", which is not of type ") + std::string(type);
}

qovrin::Result<Value> callValueFunction(context::LowerContext& context, const ast::MetaFunctionStatement& function,
                                        std::span<const expr::BuiltinArgument> arguments,
                                        const expr::EvaluationContext& evaluation, CallFailure* failure = nullptr) {
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
    if (const auto& type_name = function.params[index].type_name) {
      recordMismatch(failure, CallFailure::Stage::argument, index, *argument);
      QOVRIN_TRY(meta_function_runtime::coerceToTypeName(module, *argument, *type_name));
    }
    values.push_back(std::move(*argument));
  }

  const context::ScopeGuard scope(context);
  for (std::size_t index = 0; index < values.size(); ++index)
    QOVRIN_TRY(context::defineLocalValue(context, function.params[index].name, std::move(values[index]),
                                         function.params[index].is_mutable, context::LocalKind::parameter));
  ActiveOutputStack active_outputs;
  const auto lowered = lowerStatementSlice(module, cursor, active_outputs, function.body, context);
  if (failure != nullptr) failure->stage = CallFailure::Stage::body;
  if (!lowered && lowered.error() != Error::MetaFunctionReturned) return fail(lowered.error());
  if (!context.pending_return) return fail(Error::MissingMetaReturn);
  Value result = std::move(*context.pending_return);
  context.pending_return.reset();
  recordMismatch(failure, CallFailure::Stage::result, 0, result);
  QOVRIN_TRY(meta_function_runtime::coerceToTypeName(module, result, *function.return_type));
  return result;
}

std::string countText(std::size_t count) { return std::to_string(count) + (count == 1 ? " argument" : " arguments"); }

bool namesType(const module::Module& module, std::string_view name) {
  return typecheck::annotationFromName(name) || type_name::namesType(module.typeNames(), name) || name == "usize";
}

std::string unknownTypeText(std::string_view name) {
  return qovrin::quotedSubject(name) + " is not a type name (integers are 'integer' or a width such as 'u32')";
}

}  // namespace

std::optional<std::string> valueCallLimitNote(const context::ValueCallFailure& failure) {
  const std::string quoted_name = qovrin::quotedSubject(failure.function);
  if (failure.error == Error::MetaCallDepthExceeded)
    return quoted_name + " nests calls past the limit: " + std::string(nesting_notes::kCallDepth);
  if (failure.error == Error::NestingTooDeep && qovrin::currentWorkStack().ranOut)
    return "the calls of " + quoted_name + " nest deeper than the stack this run could get holds";
  return std::nullopt;
}

std::optional<std::string> explainValueFunctionCall(context::LowerContext& context, std::string_view name,
                                                    std::span<const expr::BuiltinArgument> arguments,
                                                    const expr::EvaluationContext& evaluation) {
  const module::Module& module = evaluation.module;
  const auto index = module.metaFunctions().find(name);
  if (!index) return std::nullopt;
  const ast::MetaFunctionStatement& function = module.metaFunctions().at(*index);
  const std::string quoted_name = qovrin::quotedSubject(name);
  if (arguments.size() != function.params.size())
    return quoted_name + " takes " + countText(function.params.size()) + ", " + std::to_string(arguments.size()) +
           " given";
  for (const ast::MetaFunctionParam& param : function.params)
    if (param.type_name && !namesType(module, *param.type_name)) return unknownTypeText(*param.type_name);
  if (!namesType(module, *function.return_type)) return unknownTypeText(*function.return_type);
  CallFailure failure;
  context.value_call_failure.reset();
  const auto called = callValueFunction(context, function, arguments, evaluation, &failure);
  if (called) return std::nullopt;
  // What a call nested inside this one failed with is what the error names
  // no more.
  const context::ValueCallFailure inner =
      context.value_call_failure.value_or(context::ValueCallFailure{std::string(name), called.error()});
  if (auto note = valueCallLimitNote(inner)) return note;
  const Error cause = inner.error;
  switch (failure.stage) {
    case CallFailure::Stage::argument:
      return "argument " + std::to_string(failure.argument + 1) + " of " + quoted_name + " is " +
             mismatchText(failure, *function.params[failure.argument].type_name);
    case CallFailure::Stage::body:
      if (called.error() == Error::MissingMetaReturn) return quoted_name + " reached its end without 'return'";
      break;
    case CallFailure::Stage::result:
      return quoted_name + " returned " + mismatchText(failure, *function.return_type);
    case CallFailure::Stage::other:
      break;
  }
  return quoted_name + " failed with " + std::string(qovrin::errorName(cause));
}

qovrin::Result<Value> evalModuleValueFunction(context::LowerContext& context, std::string_view name,
                                              std::span<const expr::BuiltinArgument> arguments,
                                              const expr::EvaluationContext& evaluation) {
  const meta_function::Store& functions = evaluation.module.metaFunctions();
  const auto index = functions.find(name);
  if (!index) return fail(Error::UndefinedSymbol);
  auto result = callValueFunction(context, functions.at(*index), arguments, evaluation);
  if (!result) {
    const Error mapped = expression_bridge::mapLowerErrorToExpression(result.error());
    if (mapped != result.error() && !context.value_call_failure)
      context.value_call_failure = context::ValueCallFailure{std::string(name), result.error()};
    return fail(mapped);
  }
  return result;
}

qovrin::Result<Value> evalUserValueFunction(context::LowerContext& context, std::string_view name,
                                            std::span<const expr::BuiltinArgument> arguments,
                                            const expr::EvaluationContext& evaluation) {
  return evalModuleValueFunction(context, name, arguments, evaluation);
}

}  // namespace frontend::lower::root
