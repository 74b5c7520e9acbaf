#include "frontend/lower/aggregate_literal.hpp"

#include <algorithm>
#include <vector>

#include "common/ascii.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/parser.hpp"

namespace frontend::lower::aggregate_literal {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

const ast::StructLiteralField* findLiteralField(const ast::StructLiteralArgument& literal, std::string_view name) {
  const auto found = std::ranges::find(literal.fields, name, &ast::StructLiteralField::name);
  return found == literal.fields.end() ? nullptr : &*found;
}

qovrin::Result<Value> aggregateFieldValue(module::Module& module, context::LowerContext& context,
                                          const contracts::ActiveOutput& cursor, const types::StructField& field,
                                          const ast::StructLiteralField* literal, const Evaluators& evaluators) {
  if (literal == nullptr) return fail(Error::MissingStructFieldValue);
  auto built = ast::isStructLiteral(literal->value)
                   ? structValueFromLiteral(module, context, cursor,
                                            ast::structLiteralOf(literal->value), evaluators)
                   : evaluators.value(module, context, cursor, ast::expressionOf(literal->value));
  if (!built) return built;
  const auto* structure = built->asStruct();
  if (structure == nullptr || structure->typeId() != field.type_id) return fail(Error::InvalidValueDeclaration);
  return built;
}

qovrin::Result<Value> integerFieldValue(module::Module& module, context::LowerContext& context,
                                        const contracts::ActiveOutput& cursor, const types::StructField& field,
                                        types::IntegerType type, const ast::StructLiteralField* literal,
                                        const Evaluators& evaluators) {
  if (type.bits < 1 || type.bits > 64) return fail(Error::InvalidIntegerBits);
  if (literal == nullptr) {
    if (!field.default_value) return fail(Error::MissingStructFieldValue);
    return Value::integer(*field.default_value, field.type_id);
  }
  if (ast::isStructLiteral(literal->value)) return fail(Error::InvalidValueDeclaration);
  const auto word = evaluators.integer(module, context, cursor, ast::expressionOf(literal->value));
  if (!word) return fail(word.error());
  if (!types::integerFits(*word, type)) return fail(Error::InvalidApiInteger);
  return Value::integer(*word, field.type_id);
}

}  // namespace

Evaluators standardEvaluators() noexcept { return {&root::evalIntegerAtContext, &root::evalValueAtContext}; }

qovrin::Status validateStructLiteralFields(const types::AggregateType& type,
                                           const ast::StructLiteralArgument& literal) {
  const auto& fields = literal.fields;
  for (auto field = fields.begin(); field != fields.end(); ++field) {
    if (std::find_if(field + 1, fields.end(), [&](const auto& later) { return later.name == field->name; }) !=
        fields.end())
      return fail(Error::DuplicateFieldName);
    if (std::ranges::find(type.fields, field->name, &types::StructField::name) == type.fields.end())
      return fail(Error::UnknownField);
  }
  return {};
}

qovrin::Result<Value> valueFromLiteralField(module::Module& module, context::LowerContext& context,
                                            const contracts::ActiveOutput& cursor, const types::StructField& field,
                                            const ast::StructLiteralField* literal, const Evaluators& evaluators) {
  const types::Type* type = module.types().find(field.type_id);
  if (type == nullptr) return fail(Error::InvalidType);
  switch (type->kind()) {
    case types::TypeKind::struct_:
    case types::TypeKind::union_:
      return aggregateFieldValue(module, context, cursor, field, literal, evaluators);
    case types::TypeKind::integer:
      return integerFieldValue(module, context, cursor, field, *type->getIf<types::IntegerType>(), literal, evaluators);
    default:
      return fail(Error::InvalidType);
  }
}

qovrin::Result<Value> structValueFromLiteral(module::Module& module, context::LowerContext& context,
                                             const contracts::ActiveOutput& cursor,
                                             const ast::StructLiteralArgument& literal, const Evaluators& evaluators) {
  const auto type_id = module.typeNames().find(literal.type_name);
  if (!type_id) return fail(Error::UnknownTypeName);
  const types::Type* type = module.types().find(*type_id);
  if (type == nullptr) return fail(Error::InvalidType);
  const auto* aggregate = type->getIf<types::AggregateType>();
  if (aggregate == nullptr) return fail(Error::ExpectedStruct);
  QOVRIN_TRY(validateStructLiteralFields(*aggregate, literal));
  // Evaluating a field may add types (u8 and the like on first use), which can
  // move the store's records, so the declaration is read from a copy.
  const bool is_union = aggregate->is_union;
  const std::vector<types::StructField> declared = aggregate->fields;

  std::vector<value::StructValueField> fields;
  if (is_union) {
    if (literal.fields.size() != 1) return fail(Error::InvalidValueDeclaration);
    const auto& selected = literal.fields.front();
    const auto field = std::ranges::find(declared, selected.name, &types::StructField::name);
    auto built = valueFromLiteralField(module, context, cursor, *field, &selected, evaluators);
    if (!built) return fail(built.error());
    fields.push_back({field->name, std::move(*built)});
  } else {
    fields.reserve(declared.size());
    for (const types::StructField& field : declared) {
      auto built =
          valueFromLiteralField(module, context, cursor, field, findLiteralField(literal, field.name), evaluators);
      if (!built) return fail(built.error());
      fields.push_back({field.name, std::move(*built)});
    }
  }
  auto structure = value::StructValue::make(*type_id, std::move(fields));
  if (!structure) return fail(structure.error());
  return Value(std::move(*structure));
}

}  // namespace frontend::lower::aggregate_literal

namespace frontend::lower::root {

qovrin::Result<value::Value> evalStructLiteralValue(context::LowerContext& context, std::string_view text,
                                                    const expr::EvaluationContext& evaluation) {
  using qovrin::Error;
  if (!evaluation.current_section) return qovrin::fail(Error::MissingEvaluationContext);
  module::Module& module = evaluation.module;
  const contracts::ActiveOutput cursor{evaluation.offset, evaluation.file_cursor.value_or(evaluation.offset),
                                       *evaluation.current_section, module.target(), false};
  const auto literal = parser::parseStructLiteralArgument(qovrin::trim(text, " \t\r\n"));
  if (!literal) {
    if (literal.error() == Error::OutOfMemory) return qovrin::fail(Error::OutOfMemory);
    return qovrin::fail(Error::InvalidApiArgument);
  }
  auto built = aggregate_literal::structValueFromLiteral(module, context, cursor, *literal,
                                                         aggregate_literal::standardEvaluators());
  if (!built) return qovrin::fail(expression_bridge::mapLowerErrorToExpression(built.error()));
  return built;
}

}  // namespace frontend::lower::root
