#include "frontend/lower/notes/arithmetic_notes.hpp"

#include "common/display_text.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::arithmetic_notes {

std::string expressionText(const expr::Node& operation) {
  const std::string rendered = deferred::renderExpressionSource(operation);
  if (operation.kind() != expr::NodeKind::binary || rendered.size() < 2) return rendered;
  return rendered.substr(1, rendered.size() - 2);
}

std::optional<std::string> integerRangeNote(const expr::Node& operation, const value::Value& left,
                                            const value::Value& right) {
  if (operation.kind() != expr::NodeKind::binary || left.asInteger() == nullptr || right.asInteger() == nullptr)
    return std::nullopt;
  const std::string shown = qovrin::quotedSubject(expressionText(operation));
  if (operation.binaryOperator() != expr::BinaryOperator::subtract)
    return "integer overflow: meta integers have 64 bits (in " + shown + ")";
  const std::string values = std::to_string(left.asInteger()->word) + " - " + std::to_string(right.asInteger()->word);
  return "integer underflow: meta integers are unsigned (" +
         (shown == qovrin::quotedSubject(values) ? values : shown + " is " + values) + ")";
}

}  // namespace frontend::lower::arithmetic_notes
