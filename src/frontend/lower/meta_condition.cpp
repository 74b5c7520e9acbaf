#include "frontend/lower/meta_condition.hpp"

#include "common/ascii.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/lower/expression_bridge.hpp"

namespace frontend::lower::meta_condition {

using qovrin::Error;
using qovrin::fail;
using Form = PreparedCondition::Form;

namespace {

constexpr std::string_view kBlanks = " \t";

qovrin::Result<PreparedCondition> prepareDefined(std::string_view text) {
  const std::string_view call = qovrin::trim(text.substr(std::string_view("defined").size()), kBlanks);
  if (call.size() < 2 || call.front() != '(' || call.back() != ')') return fail(Error::InvalidMetaIf);
  std::string_view name = qovrin::trim(call.substr(1, call.size() - 2), kBlanks);
  if (name.empty()) return fail(Error::InvalidMetaIf);
  if (name.front() == '"') {
    if (name.size() < 2 || name.back() != '"') return fail(Error::InvalidMetaIf);
    name = name.substr(1, name.size() - 2);
  }
  if (!isMetaName(name)) return fail(Error::InvalidMetaIf);
  PreparedCondition condition;
  condition.form = Form::defined;
  condition.name = name;
  return condition;
}

qovrin::Result<target::Isa> isaNamed(std::string_view word) {
  if (word.size() >= 2 && word.front() == '"' && word.back() == '"')
    word = word.substr(1, word.size() - 2);
  else if (word.starts_with('.'))
    word.remove_prefix(1);
  if (word == "x86_64") return target::Isa::x86;
  if (word == "riscv64") return target::Isa::riscv;
  if (word == "spirv") return target::Isa::spirv;
  return fail(Error::InvalidMetaIf);
}

// A target comparison, or nothing when the left side asks something else.
qovrin::Result<std::optional<PreparedCondition>> prepareTargetComparison(std::string_view text) {
  using Prepared = std::optional<PreparedCondition>;
  bool equal = true;
  auto position = text.find("==");
  if (position == std::string_view::npos) {
    position = text.find("!=");
    equal = false;
  }
  if (position == std::string_view::npos) return Prepared();
  const std::string_view left = qovrin::trim(text.substr(0, position), kBlanks);
  const std::string_view right = qovrin::trim(text.substr(position + 2), kBlanks);
  PreparedCondition condition;
  condition.equal = equal;
  if (left == "target.bits" || left == "target.xlen") {
    auto width = expr::parseOwned(right);
    if (!width) return fail(expression_bridge::mapExpressionError(width.error()));
    condition.form = Form::target_bits;
    condition.tree = std::move(*width);
    return Prepared(std::move(condition));
  }
  if (left == "target.isa") {
    const auto isa = isaNamed(right);
    if (!isa) return fail(isa.error());
    condition.form = Form::target_isa;
    condition.isa = *isa;
    return Prepared(std::move(condition));
  }
  return Prepared();
}

Error conditionParseError(Error error) noexcept {
  switch (error) {
    case Error::InvalidCharacter:
    case Error::InvalidNumber:
    case Error::InvalidToken:
    case Error::UnexpectedEof:
      return Error::UnknownMetaCondition;
    default:
      return expression_bridge::mapExpressionError(error);
  }
}

}  // namespace

bool isMetaName(std::string_view text) noexcept { return identifier::isName(text); }

qovrin::Result<PreparedCondition> prepareCondition(std::string_view text) {
  const std::string_view trimmed = qovrin::trim(text, " \t\r\n");
  if (trimmed.empty()) return fail(Error::InvalidMetaIf);
  if (trimmed == "true" || trimmed == "false") {
    PreparedCondition condition;
    condition.constant = trimmed == "true";
    return condition;
  }
  if (trimmed.starts_with("defined(")) return prepareDefined(trimmed);
  auto comparison = prepareTargetComparison(trimmed);
  if (!comparison) return fail(comparison.error());
  if (*comparison) return std::move(**comparison);
  auto tree = expr::parseOwned(trimmed);
  if (!tree) return fail(conditionParseError(tree.error()));
  PreparedCondition condition;
  condition.form = Form::expression;
  condition.tree = std::move(*tree);
  return condition;
}

qovrin::Result<bool> evaluatePrepared(module::Module& module, context::LowerContext& context,
                                      const contracts::ActiveOutput& cursor, const PreparedCondition& condition) {
  switch (condition.form) {
    case Form::constant:
      return condition.constant;
    case Form::defined:
      return context::lookupLocalValue(context, condition.name) != nullptr ||
             module.findSymbol(condition.name) != nullptr || module.typeNames().find(condition.name).has_value();
    case Form::target_bits: {
      const auto width =
          expression_bridge::evalIntegerAtContext(module, context, cursor, context.hooks, *condition.tree);
      if (!width) return fail(width.error());
      const auto bits = cursor.target.bits();
      if (!bits) return fail(Error::InvalidMetaIf);
      return (*width == *bits) == condition.equal;
    }
    case Form::target_isa:
      return (cursor.target.isa == condition.isa) == condition.equal;
    case Form::expression: {
      const auto truth = root::evalBooleanAtContext(module, context, cursor, *condition.tree);
      if (!truth && truth.error() == Error::InvalidExpression) return fail(Error::InvalidMetaIf);
      return truth;
    }
  }
  return fail(Error::InvalidMetaIf);
}

}  // namespace frontend::lower::meta_condition

namespace frontend::lower::root {

qovrin::Result<bool> evalMetaCondition(module::Module& module, context::LowerContext& context,
                                       const contracts::ActiveOutput& cursor, std::string_view text) {
  const auto condition = meta_condition::prepareCondition(text);
  if (!condition) return qovrin::fail(condition.error());
  return meta_condition::evaluatePrepared(module, context, cursor, *condition);
}

qovrin::Result<bool> evalBooleanAtContext(module::Module& module, context::LowerContext& context,
                                          const contracts::ActiveOutput& cursor, const expr::Node& node) {
  const auto result =
      expr::evaluateValue(node, expression_bridge::evaluationContextAt(module, context, cursor, context.hooks));
  if (!result) return qovrin::fail(expression_bridge::mapExpressionError(result.error()));
  const bool* truth = result->getIf<bool>();
  if (truth == nullptr) return qovrin::fail(expression_bridge::mapExpressionError(qovrin::Error::TypeMismatch));
  return *truth;
}

}  // namespace frontend::lower::root
