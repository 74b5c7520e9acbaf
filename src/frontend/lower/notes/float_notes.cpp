#include "frontend/lower/notes/float_notes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>

#include "frontend/lower/notes/arithmetic_notes.hpp"

namespace frontend::lower::float_notes {

namespace {

using expr::Node;
using expr::NodeKind;
using value::ValueKind;

// The calls that write integers into the output.
bool writesIntegers(std::string_view name) {
  static constexpr std::string_view kData[] = {"db", "dw", "dd", "dp", "dq", "dt", "ddq", "dqq", "ddqq"};
  return name.starts_with("emit.u") || name.starts_with("store.u") || std::ranges::find(kData, name) != std::end(kData);
}

std::string_view kindWord(ValueKind kind) {
  switch (kind) {
    case ValueKind::float32:
      return "an f32";
    case ValueKind::float64:
      return "an f64";
    default:
      return "an integer";
  }
}

// What converts `node`, of kind `kind`, to the float kind `wanted`: f32(x)
// and f64(x) take floats only, so an integer literal gains a point.
std::string conversion(const Node& node, ValueKind kind, ValueKind wanted) {
  const std::string_view call = wanted == ValueKind::float32 ? "f32" : "f64";
  if (kind != ValueKind::integer)
    return "write " + std::string(call) + "(" + arithmetic_notes::expressionText(node) + ")";
  if (node.kind() != NodeKind::integer) return "integers do not convert to floats";
  const std::string point = std::to_string(node.integer()) + ".0";
  return "write " + (wanted == ValueKind::float32 ? "f32(" + point + ")" : point);
}

std::optional<ValueKind> kindOf(const Node& node, const expr::EvaluationContext& evaluation) {
  const auto value = expr::evaluateValue(node, evaluation);
  if (!value) return std::nullopt;
  return value->kind();
}

bool isNumber(ValueKind kind) {
  return kind == ValueKind::integer || kind == ValueKind::float32 || kind == ValueKind::float64;
}

// A number of another kind where the float kind `wanted` is needed: "1.5 is
// an f64; <wants>: write f32(1.5)".
std::optional<std::string> mismatch(const Node& node, ValueKind kind, ValueKind wanted, std::string_view wants) {
  if (kind == wanted || !isNumber(kind)) return std::nullopt;
  return arithmetic_notes::expressionText(node) + " is " + std::string(kindWord(kind)) + "; " + std::string(wants) +
         ": " + conversion(node, kind, wanted);
}

bool isIntegerType(std::string_view type) {
  static constexpr std::string_view kIntegers[] = {"integer", "u8", "u16", "u32", "u64", "i8", "i16", "i32", "i64"};
  return std::ranges::find(kIntegers, type) != std::end(kIntegers);
}

// A float given to a name declared an integer: "2.0 is an f64; 'x' is
// declared u32, which holds integers: write 2".
std::optional<std::string> floatForInteger(const Node& node, ValueKind kind,
                                           const ast::ValueDeclarationStatement& declaration) {
  if (kind != ValueKind::float32 && kind != ValueKind::float64) return std::nullopt;
  std::string note = arithmetic_notes::expressionText(node) + " is " + std::string(kindWord(kind)) + "; '" +
                     declaration.name + "' is declared " + *declaration.type_name + ", which holds integers: ";
  const double number = node.number();
  if (node.kind() == NodeKind::float64 && number >= 0 && number < 1e18 && number == static_cast<double>(
                                                                             static_cast<std::uint64_t>(number)))
    return note + "write " + std::to_string(static_cast<std::uint64_t>(number));
  return note + "floats do not convert to integers";
}

}  // namespace

std::optional<std::string> argumentKindNote(const ast::ApiCallStatement& call, std::size_t argument, ValueKind kind) {
  const Node* node = argument < call.arguments.size() ? call.arguments[argument].expression() : nullptr;
  if (node == nullptr) return std::nullopt;
  // The first argument of a store is the place it writes at.
  if (call.name.starts_with("store.") && argument == 0) {
    if (kind != ValueKind::float32 && kind != ValueKind::float64) return std::nullopt;
    return arithmetic_notes::expressionText(*node) + " is " + std::string(kindWord(kind)) + ", and " + call.name +
           " writes at an address: an integer or a label";
  }
  if (call.name == "emit.f32" || call.name == "emit.f64") {
    if (call.arguments.size() != 1) return std::nullopt;
    const ValueKind wanted = call.name == "emit.f32" ? ValueKind::float32 : ValueKind::float64;
    return mismatch(*node, kind, wanted, call.name + " takes " + std::string(kindWord(wanted)));
  }
  if (!writesIntegers(call.name) || (kind != ValueKind::float32 && kind != ValueKind::float64))
    return std::nullopt;
  const std::string text = arithmetic_notes::expressionText(*node);
  const std::string single = kind == ValueKind::float32 ? text : "f32(" + text + ")";
  const std::string twice = kind == ValueKind::float64 ? text : "f64(" + text + ")";
  return text + " is " + std::string(kindWord(kind)) + ", and " + call.name + " writes integers: emit.f32(" +
         single + ") writes an f32, emit.f64(" + twice + ") an f64";
}

std::optional<std::string> floatKindNote(const ast::Statement& statement, qovrin::Error error,
                                         const std::optional<context::RefusedValue>& refused) {
  if (error != qovrin::Error::InvalidApiArgument && error != qovrin::Error::InvalidExpression &&
      error != qovrin::Error::InvalidValueDeclaration)
    return std::nullopt;
  if (!refused || refused->statement != statement.location()) return std::nullopt;
  if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload))
    return argumentKindNote(*call, refused->argument, refused->kind);
  const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload);
  if (declaration == nullptr || !declaration->type_name || ast::isStructLiteral(declaration->initializer))
    return std::nullopt;
  const std::string_view type = *declaration->type_name;
  const Node& initializer = ast::expressionOf(declaration->initializer);
  if (isIntegerType(type)) return floatForInteger(initializer, refused->kind, *declaration);
  if (type != "f32" && type != "f64") return std::nullopt;
  return mismatch(initializer, refused->kind, type == "f32" ? ValueKind::float32 : ValueKind::float64,
                  "'" + declaration->name + "' is declared " + std::string(type));
}

std::optional<std::string> conversionCallNote(const expr::Node& call, const expr::EvaluationContext& evaluation) {
  if (call.kind() != NodeKind::builtin_call || (call.text() != "f32" && call.text() != "f64") ||
      call.arguments().size() != 1 || call.arguments()[0].kind() != expr::BuiltinArgument::Kind::expression)
    return std::nullopt;
  const Node& argument = call.arguments()[0].node();
  if (call.text() == "f32" && kindOf(argument, evaluation) == ValueKind::float64) {
    const auto value = expr::evaluateValue(argument, evaluation);
    const double* number = value ? value->getIf<double>() : nullptr;
    if (number == nullptr || !(std::fabs(*number) > static_cast<double>(std::numeric_limits<float>::max())))
      return std::nullopt;
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", *number);
    return "f32(x) is given " + std::string(shown) + ", past the largest finite f32, about 3.4e+38";
  }
  if (kindOf(argument, evaluation) != ValueKind::integer) return std::nullopt;
  const ValueKind wanted = call.text() == "f32" ? ValueKind::float32 : ValueKind::float64;
  return arithmetic_notes::expressionText(argument) + " is an integer, and " + std::string(call.text()) +
         "(x) converts floats only: " + conversion(argument, ValueKind::integer, wanted);
}

}  // namespace frontend::lower::float_notes
