#include "frontend/lower/notes/expression_notes.hpp"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "frontend/lower/notes/arithmetic_notes.hpp"
#include "frontend/lower/notes/builtin_range_notes.hpp"
#include "frontend/lower/notes/call_arity_notes.hpp"
#include "frontend/lower/notes/float_notes.hpp"
#include "frontend/lower/notes/name_notes.hpp"
#include "frontend/lower/reading.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"

namespace frontend::lower::expression_notes {

using diagnostic::Note;
using expr::Node;
using expr::NodeKind;
using qovrin::Error;
using failure_asking::Asking;
using failure_asking::oneNote;
using failure_asking::quoted;
using failure_asking::innermostFailing;
using failure_asking::integerArgument;
using name_notes::operandNotes;

namespace {

// An arithmetic operation that left the 64-bit unsigned range, or operands
// of kinds the operator does not take.
std::optional<std::string> binaryNote(const Asking& asking, const Node& node, Error raw) {
  const auto left = asking.evaluate(node.left());
  const auto right = asking.evaluate(node.right());
  if (!left || !right) return std::nullopt;
  if (raw == Error::InvalidNumber) return arithmetic_notes::integerRangeNote(node, *left, *right);
  if (raw != Error::TypeMismatch) return std::nullopt;
  const std::string shown = quoted(arithmetic_notes::expressionText(node));
  if (left->asString() != nullptr && right->asString() != nullptr && node.binaryOperator() == expr::BinaryOperator::add)
    return "strings do not join with '+' (in " + shown + "); sym.join(a, b) joins them";
  const auto is_float = [](const value::Value& value) {
    return value.kind() == value::ValueKind::float32 || value.kind() == value::ValueKind::float64;
  };
  if (is_float(*left) != is_float(*right) &&
      (left->asInteger() != nullptr || right->asInteger() != nullptr)) {
    const Node& integer = is_float(*left) ? node.right() : node.left();
    std::string note = shown + " mixes a float with an integer, which no operator takes";
    if (integer.kind() == NodeKind::integer) note += ": write " + std::to_string(integer.integer()) + ".0";
    return note;
  }
  return "the operands of " + shown + " are of kinds the operator does not take";
}

std::optional<std::string> missingKeyNote(const Asking& asking, const Node& call) {
  if (call.text() != "map.get" || call.arguments().size() != 2) return std::nullopt;
  std::vector<value::Value> values;
  for (const expr::BuiltinArgument& argument : call.arguments()) {
    auto value = asking.evaluate(argument);
    if (!value) return std::nullopt;
    values.push_back(std::move(*value));
  }
  const value::MapValue* map = values[0].asMap();
  const std::string* key = values[1].asString();
  if (map == nullptr || key == nullptr || map->find(*key) != nullptr) return std::nullopt;
  return "the map has no key " + quoted(*key) + "; map.get_or(map, key, default) gives a default instead";
}

// An operand slice that does not lie inside its operand.
std::optional<std::string> sliceNote(const Asking& asking, const Node& call) {
  if (call.text() != "operand.slice" || call.arguments().size() != 3) return std::nullopt;
  const auto operand = asking.evaluate(call.arguments()[0]);
  const auto start = integerArgument(asking, call, 1);
  const auto end = integerArgument(asking, call, 2);
  if (!operand || operand->asOperand() == nullptr || !start || !end) return std::nullopt;
  const std::string text = operand->asOperand()->text();
  const std::string range = std::to_string(*start) + ".." + std::to_string(*end);
  if (*end < *start) return "operand.slice: the range " + range + " ends before it starts";
  return "operand.slice: the range " + range + " does not lie inside the operand " + quoted(text) + ", which has " +
         std::to_string(text.size()) + (text.size() == 1 ? " character" : " characters");
}

}  // namespace

std::vector<Note> expressionNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  // A count a builtin's form does not take fails whatever the arguments
  // hold, so it is told without evaluating them (a load would first need
  // the bytes before it encoded).
  for (const Node* node : nodes)
    if (node->kind() == NodeKind::builtin_call)
      if (auto note = call_arity_notes::valueArityNote(node->text(), node->arguments().size()))
        return oneNote(std::move(*note));
  Error raw = Error::InvalidExpression;
  const Node* failing = innermostFailing(asking, nodes, Error::InvalidExpression, &raw);
  if (failing == nullptr || failing->kind() == NodeKind::binary) {
    if (auto notes = operandNotes(asking, nodes); !notes.empty() || failing == nullptr) return notes;
    if (auto note = binaryNote(asking, *failing, raw)) return oneNote(std::move(*note));
    return {};
  }
  if (failing->kind() != NodeKind::builtin_call) return {};
  const std::string name = quoted(failing->text());
  if (raw == Error::InvalidArgument)
    if (auto note = builtin_range_notes::rangeNote(asking, *failing)) return oneNote(std::move(*note));
  if (raw == Error::MissingEvaluationContext)
    if (auto note = builtin_range_notes::imageNote(*failing)) return oneNote(std::move(*note));
  if (meta_std::lookupBuiltin(failing->text())) {
    if (raw == Error::TypeMismatch) return oneNote("an argument of " + name + " is not of the kind it takes");
    if (auto note = missingKeyNote(asking, *failing)) return oneNote(std::move(*note));
  } else if (asking.module.metaFunctions().find(failing->text())) {
    if (auto note =
            root::explainValueFunctionCall(asking.context, failing->text(), failing->arguments(), asking.evaluation()))
      return oneNote(std::move(*note));
  }
  if (auto note = float_notes::conversionCallNote(*failing, asking.evaluation())) return oneNote(std::move(*note));
  return oneNote(name + " failed with " + std::string(qovrin::errorName(raw)));
}

// A builtin that refused what it was given: a macro operand it was handed
// is not to blame unless the builtin read it as a name (operand.eval).
std::vector<Note> argumentNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  const Node* failing = innermostFailing(asking, nodes, Error::InvalidApiArgument);
  if (failing == nullptr || failing->kind() != NodeKind::builtin_call || failing->text() == "operand.eval" ||
      !expr::isBuiltinName(failing->text()))
    return operandNotes(asking, nodes);
  if (auto note = sliceNote(asking, *failing)) return oneNote(std::move(*note));
  return oneNote(quoted(failing->text()) + " refused its arguments (InvalidApiArgument)");
}

}  // namespace frontend::lower::expression_notes
