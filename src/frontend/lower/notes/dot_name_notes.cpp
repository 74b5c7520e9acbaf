#include "frontend/lower/notes/dot_name_notes.hpp"

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "frontend/syntax/expr.hpp"

namespace frontend::lower::dot_name_notes {
namespace {

bool isNameChar(char c) noexcept {
  return qovrin::isAsciiLetter(c) || qovrin::isAsciiDigit(c) || c == '.' || c == '_' || c == '$';
}

}  // namespace

std::optional<std::string_view> dotNameAt(std::string_view text, std::size_t at) noexcept {
  if (at >= text.size() || text[at] != '.' || (at > 0 && isNameChar(text[at - 1]))) return std::nullopt;
  std::size_t end = at;
  while (end < text.size() && text[end] == '.') ++end;
  // A name goes on with a letter or '_' after its dots: ".5" is a number
  // written wrong, not a label.
  if (end == text.size() || !(qovrin::isAsciiLetter(text[end]) || text[end] == '_')) return std::nullopt;
  while (end < text.size() && isNameChar(text[end])) ++end;
  return text.substr(at, end - at);
}

std::optional<std::string_view> dotNameStoppingExpression(std::string_view expression) {
  expr::ExpressionParser parser(expression);
  if (const auto parsed = parser.parseExpression(1); parsed && parser.position() >= expression.size())
    return std::nullopt;
  std::size_t at = parser.position();
  while (at < expression.size() && qovrin::isOneOf(expression[at], " \t\r\n")) ++at;
  return dotNameAt(expression, at);
}

std::optional<std::string> expressionNote(std::span<const std::string_view> expressions) {
  for (const std::string_view expression : expressions)
    if (const auto name = dotNameStoppingExpression(expression)) return dotNameReason(*name);
  return std::nullopt;
}

std::string dotNameReason(std::string_view name) {
  std::string reason = qovrin::quotedSubject(name) +
                       " starts with '.', and such names serve as jump targets and addresses (L, L + k) but "
                       "cannot stand in an expression";
  const std::size_t plain = name.find_first_not_of('.');
  return reason + "; give the label a plain name such as " + qovrin::quotedSubject(name.substr(plain)) +
         " to compute with it";
}

}  // namespace frontend::lower::dot_name_notes
