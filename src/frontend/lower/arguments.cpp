#include "frontend/lower/arguments.hpp"

#include "frontend/lower/expression_bridge.hpp"
#include "frontend/syntax/parser.hpp"

namespace frontend::lower::arguments {

using qovrin::Error;
using qovrin::fail;

qovrin::Result<value::Value> valueAtContext(module::Module& module, context::LowerContext& context,
                                            const contracts::ActiveOutput& cursor,
                                            std::span<const ast::ApiCallArgument> arguments, std::size_t index,
                                            const aggregate_literal::Evaluators& evaluators) {
  if (index >= arguments.size()) return fail(Error::InvalidApiArity);
  const ast::ApiCallArgument& argument = arguments[index];
  if (const auto* expression = argument.expression()) return evaluators.value(module, context, cursor, *expression);
  if (const auto text = argument.string()) return value::Value::string(std::string(*text));
  // The parser accepted this text already; only running out of memory can fail here.
  const auto literal = parser::parseStructLiteralArgument(*argument.structLiteralText());
  if (!literal) return fail(literal.error());
  return aggregate_literal::structValueFromLiteral(module, context, cursor, *literal, evaluators);
}

}  // namespace frontend::lower::arguments

namespace frontend::lower::root {

qovrin::Result<value::Value> valueArgAtContext(module::Module& module, context::LowerContext& context,
                                               const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                               std::size_t index) {
  return arguments::valueAtContext(module, context, cursor, call.arguments, index,
                                   aggregate_literal::standardEvaluators());
}

qovrin::Result<const expr::Node*> expressionArg(const ast::ApiCallStatement& call, std::size_t index) {
  if (index >= call.arguments.size()) return qovrin::fail(qovrin::Error::InvalidApiArity);
  const auto* expression = call.arguments[index].expression();
  if (expression == nullptr) return qovrin::fail(qovrin::Error::InvalidApiArgument);
  return expression;
}

qovrin::Result<std::uint64_t> integerArgAtContext(module::Module& module, context::LowerContext& context,
                                                  const contracts::ActiveOutput& cursor,
                                                  const ast::ApiCallStatement& call, std::size_t index) {
  const auto expression = expressionArg(call, index);
  if (!expression) return qovrin::fail(expression.error());
  const auto value = evalValueAtContext(module, context, cursor, **expression);
  if (!value) return qovrin::fail(value.error());
  if (const auto* integer = value->asInteger()) return integer->word;
  context.refused = context::RefusedValue{call.location, index, value->kind()};
  return qovrin::fail(expression_bridge::mapExpressionError(qovrin::Error::TypeMismatch));
}

qovrin::Result<std::string> sourcePathArgAtContext(module::Module& module, context::LowerContext& context,
                                                   const contracts::ActiveOutput& cursor,
                                                   const ast::ApiCallStatement& call, std::size_t index) {
  if (index < call.arguments.size())
    if (const auto text = call.arguments[index].string()) return std::string(*text);
  auto path = valueArgAtContext(module, context, cursor, call, index);
  if (!path) return qovrin::fail(path.error());
  auto* text = path->getIf<std::string>();
  if (text == nullptr) return qovrin::fail(qovrin::Error::InvalidApiArgument);
  return std::move(*text);
}

}  // namespace frontend::lower::root
