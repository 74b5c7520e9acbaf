// operand.text, operand.slice, operand.eval and operand.split: the builtins on
// captured macro operands.

#include "common/quoted_text.hpp"
#include "frontend/evaluate/expr_builtin.hpp"
#include "frontend/values/operand_text.hpp"

namespace frontend::expr {

using qovrin::Error;
using qovrin::fail;
using value::OperandValue;
using value::Value;

namespace {

qovrin::Result<Value> splitOperand(const OperandValue& operand) {
  const std::string text = operand.text();
  // The operand is read as the line it was written on reads it.
  const auto& pieces = operand.pieces();
  const auto written = pieces.empty() ? std::nullopt : pieces.front().environment->target;
  const auto parts = operand_text::splitOperands(text, written ? written->strings() : qovrin::quoted_text::kSource);
  if (!parts) return fail(parts.error());
  value::ListValue list;
  list.reserve(parts->size());
  for (const std::string_view part : *parts) {
    const auto start = static_cast<std::uint64_t>(part.data() - text.data());
    auto sliced = operand_text::sliceOperand(operand.pieces(), start, start + part.size());
    if (!sliced) return fail(sliced.error());
    QOVRIN_TRY(list.push(Value(std::move(*sliced))));
  }
  return Value(std::move(list));
}

}  // namespace

qovrin::Result<Value> evalOperandBuiltin(OperandBuiltin builtin, Arguments arguments,
                                         const EvaluationContext& context) {
  const std::size_t expected = builtin == OperandBuiltin::slice ? 3 : 1;
  if (arguments.size() != expected) return fail(Error::InvalidArgument);
  const auto first = evaluateBuiltinValueArg(arguments[0], context);
  if (!first) return fail(first.error());
  const OperandValue* operand = first->asOperand();
  if (operand == nullptr) return fail(Error::TypeMismatch);
  switch (builtin) {
    case OperandBuiltin::text:
      return Value::string(operand->text());
    case OperandBuiltin::slice: {
      const auto start = evaluateBuiltinIntegerArg(arguments[1], context);
      if (!start) return fail(start.error());
      const auto end = evaluateBuiltinIntegerArg(arguments[2], context);
      if (!end) return fail(end.error());
      auto sliced = operand_text::sliceOperand(operand->pieces(), *start, *end);
      if (!sliced) return fail(sliced.error());
      return Value(std::move(*sliced));
    }
    case OperandBuiltin::eval:
      if (context.hooks == nullptr || !context.hooks->evaluate_operand) return fail(Error::InvalidOperand);
      return context.hooks->evaluate_operand(*operand, context);
    case OperandBuiltin::split:
      break;
  }
  return splitOperand(*operand);
}

}  // namespace frontend::expr
