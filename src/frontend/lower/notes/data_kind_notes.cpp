#include "frontend/lower/notes/data_kind_notes.hpp"

#include <algorithm>
#include <string_view>

#include "frontend/lower/notes/arithmetic_notes.hpp"

namespace frontend::lower::data_kind_notes {

namespace {

// The calls that write each argument as an integer of their width.
bool writesIntegers(std::string_view name) {
  static constexpr std::string_view kData[] = {"db", "dw", "dd", "dp", "dq", "dt", "ddq", "dqq", "ddqq"};
  return name.starts_with("emit.u") || std::ranges::find(kData, name) != std::end(kData);
}

}  // namespace

std::optional<std::string> kindNote(const ast::Statement& statement, const expr::EvaluationContext& evaluation) {
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  if (call == nullptr || !writesIntegers(call->name)) return std::nullopt;
  const bool takes_text = call->name == "db";
  for (const ast::ApiCallArgument& argument : call->arguments) {
    const expr::Node* node = argument.expression();
    if (node == nullptr) continue;
    const auto value = expr::evaluateValue(*node, evaluation);
    if (!value) continue;
    const std::string text = arithmetic_notes::expressionText(*node);
    if (const bool* truth = value->getIf<bool>())
      return text + " is a boolean, and " + call->name + " writes integers" + (takes_text ? " and text" : "") +
             ": write " + (*truth ? "1" : "0");
    if (value->asString() != nullptr && !takes_text)
      return text + " is text, and only db writes text: write db(" + text + ")";
  }
  return std::nullopt;
}

}  // namespace frontend::lower::data_kind_notes
