#include "frontend/lower/block_notes.hpp"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "common/work_stack.hpp"
#include "frontend/lower/deferred.hpp"

namespace frontend::lower::block_notes {

using diagnostic::Note;
using qovrin::Error;
using failure_asking::Asking;
using failure_asking::oneNote;
using failure_asking::quoted;
using failure_asking::valueText;

namespace {

// The nesting limits, by what ran into them.
constexpr std::string_view kExpressionNesting =
    "an expression nests parentheses, calls and unary operators 130 to 400 levels deep (as they mix) and field "
    "accesses 1,000; a chain of operators such as 1 + 1 + ... + 1 is one level however long";
constexpr std::string_view kBlockNesting = "blocks nest at most 1,000 deep";
constexpr std::string_view kValueNesting = "lists, maps and structs nest at most 1,024 levels deep";

}  // namespace

std::vector<Note> forNotes(const Asking& asking, const ast::MetaForRangeStatement& loop) {
  const auto first = asking.evaluate(loop.source.first);
  if (!first) return {};
  if (!loop.source.single()) {
    const auto last = asking.evaluate(*loop.source.second);
    if (!last || first->asInteger() == nullptr || last->asInteger() == nullptr) return {};
    return oneNote("range(" + valueText(*first) + ", " + valueText(*last) + ") ends before it starts");
  }
  if (first->asList() != nullptr) return {};
  const std::string neither = "'for' runs over range(a, b) or a list, and ";
  if (first->asMap() != nullptr) {
    const std::string rendered = deferred::renderExpressionSource(loop.source.first);
    return oneNote(neither + "a map is neither; write map.keys(" + rendered + ") for its keys or map.values(" +
                   rendered + ") for its values");
  }
  if (const std::string* text = first->asString())
    return oneNote(neither + "the string " + quoted(*text) + " is neither");
  if (first->asInteger() == nullptr) return oneNote(neither + valueText(*first) + " is neither");
  return oneNote(neither + valueText(*first) + " is neither; write range(0, " + valueText(*first) + ")");
}

std::vector<Note> loopLimitNotes() { return oneNote("a 'while' or 'for' loop stops after 1,000,000 rounds"); }

// Conditions and the operands of instruction and macro lines are parsed when
// the statement runs; any other expression was parsed before, so what ran
// into a limit there is a value.
std::vector<Note> nestingNotes(const ast::Statement& statement) {
  std::string_view condition;
  if (const auto* branch = std::get_if<ast::MetaIfStatement>(&statement.payload)) condition = branch->condition;
  if (const auto* loop = std::get_if<ast::MetaWhileStatement>(&statement.payload)) condition = loop->condition;
  const auto parsed = expr::parseOwned(condition);
  const bool written = std::holds_alternative<ast::IsaTextStatement>(statement.payload) ||
                       (!parsed && parsed.error() == Error::NestingTooDeep);
  // Where the stack ran out before a value's limit, the note on the stack says why.
  if (!written && qovrin::currentWorkStack().ranOut) return {};
  return oneNote(std::string(written ? kExpressionNesting : kValueNesting));
}

std::string_view lineNestingLimit(std::string_view line) {
  return line.ends_with('{') ? kBlockNesting : kExpressionNesting;
}

}  // namespace frontend::lower::block_notes
