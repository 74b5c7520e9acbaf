#include "frontend/lower/notes/call_syntax_notes.hpp"

#include <string>
#include <vector>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "common/quoted_text.hpp"
#include "frontend/lower/notes/dot_name_notes.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/parser.hpp"

namespace frontend::lower::call_syntax_notes {
namespace {

bool isBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isNameChar(char c) noexcept { return qovrin::isAsciiLetter(c) || qovrin::isAsciiDigit(c) || c == '_' || c == '.'; }

// Where reading stopped, as an offset into the line, and what stands there.
struct Stop {
  std::size_t at;
  std::string what;
};

// Where one argument, line[start, end), stops parsing short of its end.
std::optional<Stop> argumentStop(std::string_view line, std::size_t start, std::size_t end) {
  while (start < end && isBlank(line[start])) ++start;
  while (end > start && isBlank(line[end - 1])) --end;
  const std::string_view piece = line.substr(start, end - start);
  // An empty argument and a string of the call's own spelling are read, and
  // refused, before any expression is.
  if (piece.empty() || (piece.size() >= 2 && piece.front() == '"' && piece.back() == '"')) return std::nullopt;
  if (parser::parseStructLiteralArgument(piece)) return std::nullopt;
  expr::ExpressionParser parser(piece);
  const auto parsed = parser.parseExpression(1);
  const std::size_t at = parser.position();
  if (parsed && at >= piece.size()) return std::nullopt;
  if (at >= piece.size()) return Stop{end, qovrin::quotedSubject(piece) + " ends where a value must follow"};
  if (const auto name = dot_name_notes::dotNameAt(piece, at))
    return Stop{start + at, dot_name_notes::dotNameReason(*name)};
  return Stop{start + at, qovrin::quotedSubject(piece.substr(at, 1)) + " cannot stand here"};
}

}  // namespace

std::optional<std::string_view> calledName(std::string_view line) noexcept {
  std::size_t start = 0;
  while (start < line.size() && isBlank(line[start])) ++start;
  std::size_t end = start;
  while (end < line.size() && isNameChar(line[end])) ++end;
  if (end == start || end >= line.size() || line[end] != '(') return std::nullopt;
  return line.substr(start, end - start);
}

std::optional<diagnostic::Note> argumentSyntaxNote(std::string_view line, const SourceLocation& location) {
  const auto name = calledName(line);
  if (!name) return std::nullopt;
  const std::size_t open = static_cast<std::size_t>(name->data() + name->size() - line.data());
  const auto noteAt = [&](std::size_t at, std::string_view what) {
    const auto offset = static_cast<std::uint32_t>(location.span.start + at);
    return diagnostic::Note{
        "syntax error in the arguments of " + qovrin::quotedSubject(*name) + ": " + std::string(what),
        SourceLocation{SourceSpan{location.span.source, offset, offset + 1}, std::nullopt}};
  };
  std::vector<std::size_t> opened{open};
  std::size_t argument = open + 1;
  qovrin::quoted_text::Cursor strings(qovrin::quoted_text::kSource);
  for (std::size_t at = open + 1; at < line.size(); ++at) {
    const char c = line[at];
    if (!strings.outside(line, at)) continue;
    if (c == '/' && at + 1 < line.size() && line[at + 1] == '/') break;
    if (c == '(' || c == '[' || c == '{') {
      opened.push_back(at);
    } else if (c == ')' || c == ']' || c == '}') {
      if (opened.empty()) return noteAt(at, "this '" + std::string(1, c) + "' closes no '('");
      opened.pop_back();
      if (opened.empty())
        if (auto stop = argumentStop(line, argument, at)) return noteAt(stop->at, stop->what);
    } else if (c == ',' && opened.size() == 1) {
      if (auto stop = argumentStop(line, argument, at)) return noteAt(stop->at, stop->what);
      argument = at + 1;
    } else if (opened.empty() && !isBlank(c) && c != ';') {
      return noteAt(at, qovrin::quotedSubject(std::string_view(&line[at], 1)) + " cannot follow the call's ')'");
    }
  }
  if (strings.inString() || opened.empty()) return std::nullopt;
  return noteAt(opened.back(), "this '" + std::string(1, line[opened.back()]) + "' is not closed on this line");
}

}  // namespace frontend::lower::call_syntax_notes
