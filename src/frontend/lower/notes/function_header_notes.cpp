#include "frontend/lower/notes/function_header_notes.hpp"

#include <algorithm>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/parser.hpp"

namespace frontend::lower::function_header_notes {

std::optional<std::string> headerNote(std::string_view line) {
  constexpr std::string_view kBlanks = " \t\r\n";
  if (!line.starts_with("fn ")) return std::nullopt;
  const std::size_t open = line.find('(');
  const std::size_t arrow = line.find("->");
  if (open == std::string_view::npos || arrow == std::string_view::npos || arrow < open) return std::nullopt;
  const std::size_t close = line.rfind(')', arrow);
  if (close == std::string_view::npos || close < open) return std::nullopt;
  const auto params = parser::parseMetaFunctionParams(line.substr(open + 1, close - open - 1), {});
  if (!params) return std::nullopt;
  const auto written =
      std::ranges::find_if(*params, [](const ast::MetaFunctionParam& param) { return param.is_mutable; });
  if (written == params->end()) return std::nullopt;
  std::string_view result = qovrin::trim(line.substr(arrow + 2), kBlanks);
  if (result.ends_with('{')) result = qovrin::trim(result.substr(0, result.size() - 1), kBlanks);
  const std::string returns = qovrin::quotedSubject("-> " + std::string(result));
  return qovrin::quotedSubject(written->name) + " is a 'let' parameter, which writes back into the caller's value, " +
         "and a function with a return type (" + returns + ") may not change its caller's values: drop 'let' ('let " +
         "copy = " + written->name + "' in the body gives a copy to change), or drop " + returns +
         " to make a statement function";
}

std::optional<std::string> bodyLineNote(const ast::Statement& statement) {
  const auto* line = std::get_if<ast::IsaTextStatement>(&statement.payload);
  if (line == nullptr) return std::nullopt;
  // A lone name reads as an instruction (nop, ret) as much as a value.
  const auto tree = expr::parseOwned(line->text);
  if (!tree || tree->kind() == expr::NodeKind::identifier) return std::nullopt;
  return "a value function gives its result with 'return': write 'return " + line->text + "'";
}

}  // namespace frontend::lower::function_header_notes
