#include "frontend/evaluate/expr_eval.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "frontend/syntax/expr_builtin_names.hpp"
#include "frontend/values/type_name.hpp"

namespace frontend::expr {

using qovrin::Error;
using qovrin::fail;
using value::Value;
using value::ValueKind;

namespace {

// Creating an integer type on demand fails only through the module's
// limits, which an expression reports as a bad operand.
Error typeCreationError(Error error) noexcept {
  const bool limit =
      error == Error::InvalidIntegerBits || error == Error::DuplicateTypeName || error == Error::TooManyTypes;
  return limit ? Error::InvalidOperand : error;
}

template <typename Float>
qovrin::Result<Value> floatValue(Float number) {
  if (!std::isfinite(number)) return fail(Error::InvalidNumber);
  if constexpr (std::is_same_v<Float, float>)
    return Value::float32(number);
  else
    return Value::float64(number);
}

template <typename Float>
qovrin::Result<Value> floatArithmetic(BinaryOperator op, Float left, Float right) {
  switch (op) {
    case BinaryOperator::add:
      return floatValue<Float>(left + right);
    case BinaryOperator::subtract:
      return floatValue<Float>(left - right);
    case BinaryOperator::multiply:
      return floatValue<Float>(left * right);
    default:
      if (right == 0) return fail(Error::DivisionByZero);
      return floatValue<Float>(left / right);
  }
}

qovrin::Result<Value> integerArithmetic(BinaryOperator op, std::uint64_t left, std::uint64_t right, bool wrapping) {
  std::uint64_t result = 0;
  bool overflow = false;
  switch (op) {
    case BinaryOperator::add:
      overflow = __builtin_add_overflow(left, right, &result);
      break;
    case BinaryOperator::subtract:
      overflow = __builtin_sub_overflow(left, right, &result);
      break;
    case BinaryOperator::multiply:
      overflow = __builtin_mul_overflow(left, right, &result);
      break;
    default:
      if (right == 0) return fail(Error::DivisionByZero);
      result = left / right;
      break;
  }
  if (overflow && !wrapping) return fail(Error::InvalidNumber);
  return Value::integer(result);
}

// IEEE ordered comparison: false whenever either side is NaN.
template <typename Number>
bool compare(BinaryOperator op, Number left, Number right) noexcept {
  switch (op) {
    case BinaryOperator::less:
      return left < right;
    case BinaryOperator::less_equal:
      return left <= right;
    case BinaryOperator::greater:
      return left > right;
    default:
      return left >= right;
  }
}

// Both operands of an arithmetic or comparison operator, left first, when
// they are of one numeric kind; any other pair is TypeMismatch.
struct NumericPair {
  Value left;
  Value right;
};

qovrin::Result<NumericPair> evaluateNumericPair(const Node& node, const EvaluationContext& context) {
  auto left = evaluateValue(node.left(), context);
  if (!left) return fail(left.error());
  auto right = evaluateValue(node.right(), context);
  if (!right) return fail(right.error());
  const ValueKind kind = left->kind();
  const bool numeric = kind == ValueKind::integer || kind == ValueKind::float32 || kind == ValueKind::float64;
  if (!numeric || right->kind() != kind) return fail(Error::TypeMismatch);
  return NumericPair{std::move(*left), std::move(*right)};
}

qovrin::Result<Value> evaluateArithmetic(const Node& node, const EvaluationContext& context) {
  const auto pair = evaluateNumericPair(node, context);
  if (!pair) return fail(pair.error());
  const BinaryOperator op = node.binaryOperator();
  if (const auto* left = pair->left.asInteger())
    return integerArithmetic(op, left->word, pair->right.asInteger()->word, context.wrapping);
  if (const auto* left = pair->left.getIf<float>()) return floatArithmetic(op, *left, *pair->right.getIf<float>());
  return floatArithmetic(op, *pair->left.getIf<double>(), *pair->right.getIf<double>());
}

qovrin::Result<Value> evaluateComparison(const Node& node, const EvaluationContext& context) {
  const auto pair = evaluateNumericPair(node, context);
  if (!pair) return fail(pair.error());
  const BinaryOperator op = node.binaryOperator();
  if (const auto* left = pair->left.asInteger())
    return Value::boolean(compare(op, left->word, pair->right.asInteger()->word));
  if (const auto* left = pair->left.getIf<float>())
    return Value::boolean(compare(op, *left, *pair->right.getIf<float>()));
  return Value::boolean(compare(op, *pair->left.getIf<double>(), *pair->right.getIf<double>()));
}

// Operators whose operands are integers through evaluateInteger, in the order
// each one evaluates them.
qovrin::Result<Value> evaluateIntegerOperator(const Node& node, const EvaluationContext& context) {
  const BinaryOperator op = node.binaryOperator();
  if (op == BinaryOperator::remainder) {
    const auto divisor = evaluateInteger(node.right(), context);
    if (!divisor) return fail(divisor.error());
    if (*divisor == 0) return fail(Error::DivisionByZero);
    const auto dividend = evaluateInteger(node.left(), context);
    if (!dividend) return fail(dividend.error());
    return Value::integer(*dividend % *divisor);
  }
  if (op == BinaryOperator::shift_left || op == BinaryOperator::shift_right) {
    const auto count = evaluateInteger(node.right(), context);
    if (!count) return fail(count.error());
    if (*count >= 64) return Value::integer(0);
    const auto word = evaluateInteger(node.left(), context);
    if (!word) return fail(word.error());
    return Value::integer(op == BinaryOperator::shift_left ? *word << *count : *word >> *count);
  }
  const auto left = evaluateInteger(node.left(), context);
  if (!left) return fail(left.error());
  const auto right = evaluateInteger(node.right(), context);
  if (!right) return fail(right.error());
  switch (op) {
    case BinaryOperator::bit_and:
      return Value::integer(*left & *right);
    case BinaryOperator::bit_or:
      return Value::integer(*left | *right);
    default:
      return Value::integer(*left ^ *right);
  }
}

qovrin::Result<Value> evaluateBinary(const Node& node, const EvaluationContext& context) {
  switch (node.binaryOperator()) {
    case BinaryOperator::logical_or:
    case BinaryOperator::logical_and: {
      const auto left = evaluateBoolean(node.left(), context);
      if (!left) return fail(left.error());
      // The right side decides only when the left one does not.
      if (*left == (node.binaryOperator() == BinaryOperator::logical_or)) return Value::boolean(*left);
      const auto right = evaluateBoolean(node.right(), context);
      if (!right) return fail(right.error());
      return Value::boolean(*right);
    }
    case BinaryOperator::equal:
    case BinaryOperator::not_equal: {
      const auto equal = valuesEqual(node.left(), node.right(), context);
      if (!equal) return fail(equal.error());
      return Value::boolean(*equal == (node.binaryOperator() == BinaryOperator::equal));
    }
    case BinaryOperator::less:
    case BinaryOperator::less_equal:
    case BinaryOperator::greater:
    case BinaryOperator::greater_equal:
      return evaluateComparison(node, context);
    case BinaryOperator::add:
    case BinaryOperator::subtract:
    case BinaryOperator::multiply:
    case BinaryOperator::divide:
      return evaluateArithmetic(node, context);
    default:
      return evaluateIntegerOperator(node, context);
  }
}

qovrin::Result<Value> evaluateUnary(const Node& node, const EvaluationContext& context) {
  switch (node.unaryOperator()) {
    case UnaryOperator::plus:
    case UnaryOperator::minus: {
      auto operand = evaluateValue(node.left(), context);
      if (!operand) return operand;
      const ValueKind kind = operand->kind();
      if (kind != ValueKind::integer && kind != ValueKind::float32 && kind != ValueKind::float64)
        return fail(Error::TypeMismatch);
      if (node.unaryOperator() == UnaryOperator::plus) return operand;
      // Integers wrap: -1 is the word 2^64 - 1.
      if (const auto* integer = operand->asInteger()) return Value::integer(0 - integer->word);
      if (const auto* number = operand->getIf<float>()) return Value::float32(-*number);
      return Value::float64(-*operand->getIf<double>());
    }
    case UnaryOperator::bit_not: {
      const auto word = evaluateInteger(node.left(), context);
      if (!word) return fail(word.error());
      return Value::integer(~*word);
    }
    case UnaryOperator::logical_not: {
      const auto truth = evaluateBoolean(node.left(), context);
      if (!truth) return fail(truth.error());
      return Value::boolean(!*truth);
    }
  }
  return fail(Error::InvalidOperand);
}

qovrin::Result<Value> targetField(const EvaluationContext& context, std::string_view field) {
  if (field != "bits" && field != "xlen") return fail(Error::UnknownField);
  const auto bits = context.target.value_or(context.module.target()).bits();
  if (!bits) return fail(Error::InvalidOperand);
  return Value::integer(*bits);
}

qovrin::Result<Value> evaluateFieldAccess(const Node& node, const EvaluationContext& context) {
  // target.<field> reads the target in force, before any name lookup.
  if (node.left().kind() == NodeKind::identifier && node.left().text() == "target")
    return targetField(context, node.text());
  const auto object = evaluateValue(node.left(), context);
  if (!object) return object;
  const auto* structure = object->asStruct();
  if (structure == nullptr) return fail(Error::TypeMismatch);
  const Value* field = structure->fieldValueByName(node.text());
  if (field == nullptr) return fail(Error::UnknownField);
  return Value(*field);
}

}  // namespace

qovrin::Result<Value> evaluateValue(const Node& node, const EvaluationContext& context) {
  switch (node.kind()) {
    case NodeKind::integer:
      return Value::integer(node.integer());
    case NodeKind::float64:
      return Value::float64(node.number());
    case NodeKind::boolean:
      return Value::boolean(node.boolean());
    case NodeKind::string:
      return Value::string(std::string(node.text()));
    case NodeKind::bytes:
      return Value::bytes(value::Bytes(node.text().begin(), node.text().end()));
    case NodeKind::identifier:
      return resolveSymbolValue(context, node.text());
    case NodeKind::field_access:
      return evaluateFieldAccess(node, context);
    case NodeKind::builtin_call:
      return evalBuiltinCall(node, context);
    case NodeKind::unary:
      return evaluateUnary(node, context);
    case NodeKind::binary:
      return evaluateBinary(node, context);
  }
  return fail(Error::InvalidOperand);
}

qovrin::Result<std::uint64_t> evaluateInteger(const Node& node, const EvaluationContext& context) {
  const auto result = evaluateValue(node, context);
  if (!result) return fail(result.error());
  const auto* integer = result->asInteger();
  if (integer == nullptr) return fail(Error::TypeMismatch);
  return integer->word;
}

qovrin::Result<bool> evaluateBoolean(const Node& node, const EvaluationContext& context) {
  const auto result = evaluateValue(node, context);
  if (!result) return fail(result.error());
  const auto* truth = result->getIf<bool>();
  if (truth == nullptr) return fail(Error::TypeMismatch);
  return *truth;
}

qovrin::Result<bool> valuesEqual(const Node& left, const Node& right, const EvaluationContext& context) {
  const auto left_value = evaluateValue(left, context);
  if (!left_value) return fail(left_value.error());
  const auto right_value = evaluateValue(right, context);
  if (!right_value) return fail(right_value.error());
  return value::valuesEqual(*left_value, *right_value);
}

qovrin::Result<std::uint32_t> getOrAddBuiltinType(module::Module& module, std::string_view name, std::uint16_t bits,
                                                  bool is_signed) {
  const auto id = module.getOrAddIntType(name, bits, is_signed);
  if (!id) return fail(typeCreationError(id.error()));
  return id;
}

qovrin::Result<Value> resolveSymbolValue(const EvaluationContext& context, std::string_view name) {
  if (std::ranges::find(context.blocked_names, name) != context.blocked_names.end())
    return fail(Error::UndefinedSymbol);
  if (context.hooks != nullptr && context.hooks->resolve_local) {
    auto local = context.hooks->resolve_local(name);
    if (!local) return fail(local.error());
    if (*local) return std::move(**local);
  }
  module::Module& module = context.module;
  // Registered type names, then "u8" ... "i64", made on first use.
  const auto type = type_name::resolveNamedOrFixedInteger(module.typeTables(), name);
  if (!type) return fail(typeCreationError(type.error()));
  if (*type) return Value::type(**type);
  const symbol::Symbol* symbol = module.findSymbol(name);
  if (symbol == nullptr) return fail(Error::UndefinedSymbol);
  if (const auto* label = symbol->label()) {
    const auto address = module.labelAddress(*label);
    if (!address) return fail(address.error());
    return Value::integer(*address);
  }
  return Value(symbol->value()->value);
}

qovrin::Result<std::optional<std::uint64_t>> constantIntegerValue(const Node& node) {
  using Folded = std::optional<std::uint64_t>;
  if (node.kind() == NodeKind::integer) return Folded(node.integer());
  if (node.kind() == NodeKind::unary) {
    if (node.unaryOperator() == UnaryOperator::logical_not) return Folded();
    const auto operand = constantIntegerValue(node.left());
    if (!operand || !*operand) return operand;
    switch (node.unaryOperator()) {
      case UnaryOperator::minus:
        return Folded(0 - **operand);
      case UnaryOperator::bit_not:
        return Folded(~**operand);
      default:
        return operand;
    }
  }
  if (node.kind() != NodeKind::binary) return Folded();
  const BinaryOperator op = node.binaryOperator();
  const bool shift = op == BinaryOperator::shift_left || op == BinaryOperator::shift_right;
  const bool integer_operator = op >= BinaryOperator::add;
  if (!integer_operator) return Folded();
  // Shifts and remainders look at their right operand first, as when
  // evaluated: a shift by 64 or more is 0 whatever it shifts.
  const bool right_first = shift || op == BinaryOperator::remainder;
  const auto first = constantIntegerValue(right_first ? node.right() : node.left());
  if (!first || !*first) return first;
  if (shift && **first >= 64) return Folded(0);
  if (op == BinaryOperator::remainder && **first == 0) return fail(Error::DivisionByZero);
  const auto second = constantIntegerValue(right_first ? node.left() : node.right());
  if (!second || !*second) return second;
  const std::uint64_t a = right_first ? **second : **first;
  const std::uint64_t b = right_first ? **first : **second;
  switch (op) {
    case BinaryOperator::remainder:
      return Folded(a % b);
    case BinaryOperator::shift_left:
      return Folded(a << b);
    case BinaryOperator::shift_right:
      return Folded(a >> b);
    case BinaryOperator::bit_and:
      return Folded(a & b);
    case BinaryOperator::bit_or:
      return Folded(a | b);
    case BinaryOperator::bit_xor:
      return Folded(a ^ b);
    default: {
      const auto result = integerArithmetic(op, a, b, true);
      if (!result) return fail(result.error());
      return Folded(result->asInteger()->word);
    }
  }
}

bool usesOutputLoad(const Node& node) noexcept {
  switch (node.kind()) {
    case NodeKind::field_access:
    case NodeKind::unary:
      return usesOutputLoad(node.left());
    case NodeKind::binary:
      return usesOutputLoad(node.left()) || usesOutputLoad(node.right());
    case NodeKind::builtin_call: {
      const std::string_view name = node.text();
      if (const auto builtin = findEvaluatorBuiltin(name); builtin && builtin->kind == EvaluatorBuiltinKind::output_load)
        return true;
      return std::ranges::any_of(node.arguments(), [](const BuiltinArgument& argument) {
        return argument.kind() == BuiltinArgument::Kind::expression && usesOutputLoad(argument.node());
      });
    }
    default:
      return false;
  }
}

}  // namespace frontend::expr
