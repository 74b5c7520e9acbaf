#include "frontend/expr_builtin_names.hpp"
#include "frontend/expr_eval.hpp"
#include "frontend/meta_data.hpp"
#include "frontend/meta_std.hpp"

namespace frontend::expr {

using qovrin::Error;
using qovrin::fail;
using value::Value;

bool isBuiltinName(std::string_view name) noexcept {
  return findEvaluatorBuiltin(name) || meta_std::isBuiltinName(name) || meta_data::lookupBuiltin(name);
}

qovrin::Result<Value> evalBuiltinCall(const Node& call, const EvaluationContext& context) {
  const std::string_view name = call.text;
  // Builtin names come before value functions, so a value function can never
  // shadow one; a builtin this evaluator does not provide fails as an
  // unknown call does.
  if (isBuiltinName(name)) return fail(Error::InvalidOperand);
  if (context.hooks != nullptr && context.hooks->call_value_function)
    return context.hooks->call_value_function(name, call.arguments, context);
  return fail(Error::InvalidOperand);
}

qovrin::Result<Value> evaluateBuiltinValueArg(const BuiltinArgument& argument, const EvaluationContext& context) {
  switch (argument.kind) {
    case BuiltinArgument::Kind::expression:
      return evaluateValue(*argument.expression, context);
    case BuiltinArgument::Kind::bare_name:
      return resolveSymbolValue(context, argument.text);
    case BuiltinArgument::Kind::raw_text:
      break;
  }
  if (context.hooks == nullptr || !context.hooks->eval_struct_literal) return fail(Error::MissingEvaluationContext);
  return context.hooks->eval_struct_literal(argument.text, context);
}

}  // namespace frontend::expr
