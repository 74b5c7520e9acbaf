#include "frontend/evaluate/expr_eval.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <type_traits>

#include "common/work_stack.hpp"
#include "frontend/evaluate/call_search.hpp"
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

qovrin::Result<std::uint64_t> integerOf(const Value& value) {
  const auto* integer = value.asInteger();
  if (integer == nullptr) return fail(Error::TypeMismatch);
  return integer->word;
}

qovrin::Result<bool> booleanOf(const Value& value) {
  const auto* truth = value.getIf<bool>();
  if (truth == nullptr) return fail(Error::TypeMismatch);
  return *truth;
}

// Operands of an arithmetic or comparison operator must be of one numeric
// kind; any other pair is TypeMismatch.
bool numericPair(const Value& left, const Value& right) noexcept {
  const ValueKind kind = left.kind();
  const bool numeric = kind == ValueKind::integer || kind == ValueKind::float32 || kind == ValueKind::float64;
  return numeric && right.kind() == kind;
}

qovrin::Result<Value> arithmetic(BinaryOperator op, const Value& left, const Value& right, bool wrapping) {
  if (!numericPair(left, right)) return fail(Error::TypeMismatch);
  if (const auto* integer = left.asInteger())
    return integerArithmetic(op, integer->word, right.asInteger()->word, wrapping);
  if (const auto* number = left.getIf<float>()) return floatArithmetic(op, *number, *right.getIf<float>());
  return floatArithmetic(op, *left.getIf<double>(), *right.getIf<double>());
}

qovrin::Result<Value> comparison(BinaryOperator op, const Value& left, const Value& right) {
  if (!numericPair(left, right)) return fail(Error::TypeMismatch);
  if (const auto* integer = left.asInteger()) return Value::boolean(compare(op, integer->word, right.asInteger()->word));
  if (const auto* number = left.getIf<float>()) return Value::boolean(compare(op, *number, *right.getIf<float>()));
  return Value::boolean(compare(op, *left.getIf<double>(), *right.getIf<double>()));
}

bool readsRightFirst(BinaryOperator op) noexcept {
  return op == BinaryOperator::remainder || op == BinaryOperator::shift_left || op == BinaryOperator::shift_right;
}

// One link of a chain applied to the value of everything left of it.
// `early` is the right operand of a shift or remainder, read before the left
// one.
qovrin::Result<Value> applyLink(const Node& link, const Value& left, std::uint64_t early,
                                const EvaluationContext& context) {
  const BinaryOperator op = link.binaryOperator();
  switch (op) {
    case BinaryOperator::logical_or:
    case BinaryOperator::logical_and: {
      const auto truth = booleanOf(left);
      if (!truth) return fail(truth.error());
      // The right side decides only when the left one does not.
      if (*truth == (op == BinaryOperator::logical_or)) return Value::boolean(*truth);
      const auto right = evaluateBoolean(link.right(), context);
      if (!right) return fail(right.error());
      return Value::boolean(*right);
    }
    case BinaryOperator::equal:
    case BinaryOperator::not_equal: {
      const auto right = evaluateValue(link.right(), context);
      if (!right) return fail(right.error());
      return Value::boolean(value::valuesEqual(left, *right) == (op == BinaryOperator::equal));
    }
    case BinaryOperator::less:
    case BinaryOperator::less_equal:
    case BinaryOperator::greater:
    case BinaryOperator::greater_equal:
    case BinaryOperator::add:
    case BinaryOperator::subtract:
    case BinaryOperator::multiply:
    case BinaryOperator::divide: {
      const auto right = evaluateValue(link.right(), context);
      if (!right) return fail(right.error());
      if (op >= BinaryOperator::add) return arithmetic(op, left, *right, context.wrapping);
      return comparison(op, left, *right);
    }
    default:
      break;
  }
  const auto word = integerOf(left);
  if (!word) return fail(word.error());
  switch (op) {
    case BinaryOperator::remainder:
      return Value::integer(*word % early);
    case BinaryOperator::shift_left:
      return Value::integer(*word << early);
    case BinaryOperator::shift_right:
      return Value::integer(*word >> early);
    default:
      break;
  }
  const auto right = evaluateInteger(link.right(), context);
  if (!right) return fail(right.error());
  switch (op) {
    case BinaryOperator::bit_and:
      return Value::integer(*word & *right);
    case BinaryOperator::bit_or:
      return Value::integer(*word | *right);
    default:
      return Value::integer(*word ^ *right);
  }
}

// The right operands of a chain's links that are read before the rest, by
// link; a few links, the usual case, need no allocation.
class EarlyWords {
 public:
  explicit EarlyWords(std::size_t links) : far_(links > near_.size() ? links : 0) {}
  std::uint64_t& operator[](std::size_t index) noexcept { return far_.empty() ? near_[index] : far_[index]; }

 private:
  std::array<std::uint64_t, 8> near_{};
  std::vector<std::uint64_t> far_;
};

// The right operand of a shift or remainder, read before the left one.
// `decides` when the link is 0 whatever its left operand (a shift by 64 or
// more), which then is not read at all.
struct EarlyRight {
  std::uint64_t word = 0;
  bool decides = false;
};

qovrin::Result<EarlyRight> readEarlyRight(const Node& link, const EvaluationContext& context) {
  const auto right = evaluateInteger(link.right(), context);
  if (!right) return fail(right.error());
  const bool remainder = link.binaryOperator() == BinaryOperator::remainder;
  if (remainder && *right == 0) return fail(Error::DivisionByZero);
  return EarlyRight{*right, !remainder && *right >= 64};
}

// A chain of operations in a loop, reading every operand in the order that
// nested evaluation of its links would: first the right operands of shifts
// and remainders, from the top down to the first shift by 64 or more (which
// is 0 whatever it shifts, so nothing below it is read), then the first
// operand, then each link's other right operand on the way up.
qovrin::Result<Value> evaluateBinary(const Node& node, const EvaluationContext& context) {
  const LeftChain chain(node);
  EarlyWords early(chain.size());
  std::size_t from = 0;
  std::optional<Value> value;
  for (std::size_t index = chain.size(); index-- > 0 && !value;) {
    const Node& link = chain.link(index);
    if (!readsRightFirst(link.binaryOperator())) continue;
    const auto right = readEarlyRight(link, context);
    if (!right) return fail(right.error());
    early[index] = right->word;
    if (right->decides) {
      value = Value::integer(0);
      from = index + 1;
    }
  }
  if (!value) {
    auto first = evaluateValue(chain.first(), context);
    if (!first) return first;
    value = std::move(*first);
  }
  for (std::size_t index = from; index < chain.size(); ++index) {
    auto next = applyLink(chain.link(index), *value, early[index], context);
    if (!next) return next;
    *value = std::move(*next);
  }
  return std::move(*value);
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
  // A tree parsed where the stack had room may be evaluated where it has less.
  if (qovrin::workStackFull()) return fail(Error::NestingTooDeep);
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
  return integerOf(*result);
}

qovrin::Result<bool> evaluateBoolean(const Node& node, const EvaluationContext& context) {
  const auto result = evaluateValue(node, context);
  if (!result) return fail(result.error());
  return booleanOf(*result);
}

qovrin::Result<Value> evaluateLink(const Node& link, const Value& left, const EvaluationContext& context) {
  if (link.kind() != NodeKind::binary) return evaluateValue(link, context);
  EarlyRight early;
  if (readsRightFirst(link.binaryOperator())) {
    const auto right = readEarlyRight(link, context);
    if (!right) return fail(right.error());
    if (right->decides) return Value::integer(0);
    early = *right;
  }
  return applyLink(link, left, early.word, context);
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

namespace {

// The kind of a literal that no integer operator takes; none for an
// integer literal and for anything that is no literal.
std::optional<value::ValueKind> otherLiteralKind(const Node& node) noexcept {
  switch (node.kind()) {
    case NodeKind::float64:
      return value::ValueKind::float64;
    case NodeKind::boolean:
      return value::ValueKind::boolean;
    case NodeKind::string:
      return value::ValueKind::string;
    case NodeKind::bytes:
      return value::ValueKind::bytes;
    default:
      return std::nullopt;
  }
}

}  // namespace

qovrin::Result<std::optional<std::uint64_t>> constantIntegerValue(const Node& node) {
  using Folded = std::optional<std::uint64_t>;
  if (node.kind() == NodeKind::integer) return Folded(node.integer());
  // No context can make a literal of another kind an integer.
  if (otherLiteralKind(node)) return fail(Error::TypeMismatch);
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
  // Shifts and remainders look at their right operand first, as when
  // evaluated: a shift by 64 or more is 0 whatever it shifts. So the chain is
  // read in evaluateBinary's order.
  const LeftChain chain(node);
  EarlyWords early(chain.size());
  std::size_t from = 0;
  Folded value;
  for (std::size_t index = chain.size(); index-- > 0 && !value;) {
    const Node& link = chain.link(index);
    const BinaryOperator op = link.binaryOperator();
    if (op < BinaryOperator::add) return Folded();
    if (!readsRightFirst(op)) continue;
    const auto right = constantIntegerValue(link.right());
    if (!right || !*right) return right;
    if (op == BinaryOperator::remainder && **right == 0) return fail(Error::DivisionByZero);
    early[index] = **right;
    if (op != BinaryOperator::remainder && **right >= 64) {
      value = 0;
      from = index + 1;
    }
  }
  if (!value) {
    const auto first = constantIntegerValue(chain.first());
    if (!first || !*first) return first;
    value = *first;
  }
  for (std::size_t index = from; index < chain.size(); ++index) {
    const Node& link = chain.link(index);
    const BinaryOperator op = link.binaryOperator();
    const std::uint64_t a = *value;
    std::uint64_t b = early[index];
    if (!readsRightFirst(op)) {
      const auto right = constantIntegerValue(link.right());
      if (!right || !*right) return right;
      b = **right;
    }
    switch (op) {
      case BinaryOperator::remainder:
        value = a % b;
        break;
      case BinaryOperator::shift_left:
        value = a << b;
        break;
      case BinaryOperator::shift_right:
        value = a >> b;
        break;
      case BinaryOperator::bit_and:
        value = a & b;
        break;
      case BinaryOperator::bit_or:
        value = a | b;
        break;
      case BinaryOperator::bit_xor:
        value = a ^ b;
        break;
      default: {
        const auto result = integerArithmetic(op, a, b, true);
        if (!result) return fail(result.error());
        value = result->asInteger()->word;
      }
    }
  }
  return value;
}

std::string constantMismatchReason(const Node& node) {
  if (const auto kind = otherLiteralKind(node)) return "it is " + value::kindWithArticle(*kind) + ", not an integer";
  if (node.kind() == NodeKind::unary) return constantMismatchReason(node.left());
  if (node.kind() != NodeKind::binary) return "it is no integer";
  const Node* sides[] = {&node.left(), &node.right()};
  for (const Node* side : sides)
    if (side->kind() != NodeKind::integer && !otherLiteralKind(*side)) {
      const auto folded = constantIntegerValue(*side);
      if (!folded) return constantMismatchReason(*side);
    }
  const auto kindOf = [](const Node& side) {
    return value::kindWithArticle(otherLiteralKind(side).value_or(value::ValueKind::integer));
  };
  return "it combines " + kindOf(node.left()) + " with " + kindOf(node.right());
}

bool usesOutputLoad(const Node& node) noexcept {
  return anyCallIn(node, [](const Node& call) { return readsOutput(call); });
}

}  // namespace frontend::expr
