#include "frontend/lower/aggregate_literal.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

#include "common/ascii.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/syntax/parser.hpp"

namespace frontend::lower::aggregate_literal {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

// Up to this many fields a literal is searched by scanning; wider ones get
// sorted indexes, so that a literal with millions of fields is checked and
// built in n log n time instead of quadratic time.
constexpr std::size_t kScannedFields = 16;

// The literal's field positions ordered by name, equal names by position.
class LiteralFieldIndex {
 public:
  explicit LiteralFieldIndex(const ast::StructLiteralArgument& literal) : literal_(literal) {
    const std::size_t count = literal.fields.size();
    // Positions fit 32 bits for any literal a source line can hold.
    if (count <= kScannedFields || count > std::numeric_limits<std::uint32_t>::max()) return;
    order_.resize(count);
    for (std::size_t index = 0; index < count; ++index) order_[index] = static_cast<std::uint32_t>(index);
    std::ranges::sort(order_, [this](std::uint32_t a, std::uint32_t b) {
      const int order = nameAt(a).compare(nameAt(b));
      return order != 0 ? order < 0 : a < b;
    });
  }

  // The first field with that name.
  const ast::StructLiteralField* find(std::string_view name) const {
    const auto& fields = literal_.fields;
    if (order_.empty()) {
      for (const ast::StructLiteralField& field : fields)
        if (literal_.nameOf(field) == name) return &field;
      return nullptr;
    }
    const auto found = std::ranges::lower_bound(order_, name, {}, [this](std::uint32_t at) { return nameAt(at); });
    if (found == order_.end() || nameAt(*found) != name) return nullptr;
    return &fields[*found];
  }

  // Whether a later field has the same name as the field at index.
  bool namedAgainLater(std::size_t index) const {
    const std::string_view name = nameAt(index);
    if (order_.empty()) {
      for (std::size_t later = index + 1; later < literal_.fields.size(); ++later)
        if (nameAt(later) == name) return true;
      return false;
    }
    const auto last = std::ranges::upper_bound(order_, name, {}, [this](std::uint32_t at) { return nameAt(at); });
    return *(last - 1) != index;
  }

  std::string_view nameAt(std::size_t index) const noexcept { return literal_.nameOf(literal_.fields[index]); }

 private:
  const ast::StructLiteralArgument& literal_;
  std::vector<std::uint32_t> order_;
};

// The declared field names, sorted once the type is wide.
class DeclaredNames {
 public:
  explicit DeclaredNames(const types::AggregateType& type) : fields_(type.fields) {
    if (fields_.size() <= kScannedFields) return;
    sorted_.reserve(fields_.size());
    for (const types::StructField& field : fields_) sorted_.push_back(field.name);
    std::ranges::sort(sorted_);
  }

  bool contains(std::string_view name) const {
    if (sorted_.empty()) return std::ranges::find(fields_, name, &types::StructField::name) != fields_.end();
    return std::ranges::binary_search(sorted_, name);
  }

 private:
  std::span<const types::StructField> fields_;
  std::vector<std::string_view> sorted_;
};

qovrin::Result<Value> aggregateFieldValue(module::Module& module, context::LowerContext& context,
                                          const contracts::ActiveOutput& cursor, const types::StructField& field,
                                          const ast::StructLiteralField* literal, const Evaluators& evaluators) {
  if (literal == nullptr) return fail(Error::MissingStructFieldValue);
  auto built = ast::isStructLiteral(literal->value)
                   ? structValueFromLiteral(module, context, cursor, ast::structLiteralOf(literal->value), evaluators)
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

qovrin::Status validateFields(const types::AggregateType& type, const ast::StructLiteralArgument& literal,
                              const LiteralFieldIndex& named) {
  const DeclaredNames declared(type);
  for (std::size_t index = 0; index < literal.fields.size(); ++index) {
    if (named.namedAgainLater(index)) return fail(Error::DuplicateFieldName);
    if (!declared.contains(named.nameAt(index))) return fail(Error::UnknownField);
  }
  return {};
}

}  // namespace

Evaluators standardEvaluators() noexcept { return {&root::evalIntegerAtContext, &root::evalValueAtContext}; }

qovrin::Status validateStructLiteralFields(const types::AggregateType& type,
                                           const ast::StructLiteralArgument& literal) {
  return validateFields(type, literal, LiteralFieldIndex(literal));
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
  const LiteralFieldIndex named(literal);
  QOVRIN_TRY(validateFields(*aggregate, literal, named));
  // Evaluating a field may add types (u8 and the like on first use), which can
  // move the store's records, so the declaration is read from a copy.
  const bool is_union = aggregate->is_union;
  const std::vector<types::StructField> declared = aggregate->fields;

  std::vector<value::StructValueField> fields;
  if (is_union) {
    if (literal.fields.size() != 1) return fail(Error::InvalidValueDeclaration);
    const auto& selected = literal.fields.front();
    const auto field = std::ranges::find(declared, literal.nameOf(selected), &types::StructField::name);
    auto built = valueFromLiteralField(module, context, cursor, *field, &selected, evaluators);
    if (!built) return fail(built.error());
    fields.push_back({field->name, std::move(*built)});
  } else {
    fields.reserve(declared.size());
    for (const types::StructField& field : declared) {
      auto built = valueFromLiteralField(module, context, cursor, field, named.find(field.name), evaluators);
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
