#include "frontend/lower/notes/block_notes.hpp"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "common/work_stack.hpp"
#include "frontend/lower/notes/nesting_notes.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::block_notes {

using diagnostic::Note;
using qovrin::Error;
using failure_asking::Asking;
using failure_asking::oneNote;
using failure_asking::quoted;
using failure_asking::valueText;

using nesting_notes::kBlockNesting;
using nesting_notes::kExpressionNesting;
using nesting_notes::kValueNesting;

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
// the statement runs, and so is the line an isa call hands over, a string
// that cannot nest; any other expression was parsed before, so what ran into
// a limit there is a value.
std::vector<Note> nestingNotes(const ast::Statement& statement) {
  std::string_view condition;
  if (const auto* branch = std::get_if<ast::MetaIfStatement>(&statement.payload)) condition = branch->condition;
  if (const auto* loop = std::get_if<ast::MetaWhileStatement>(&statement.payload)) condition = loop->condition;
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  const bool instruction = std::holds_alternative<ast::IsaTextStatement>(statement.payload) ||
                           (call != nullptr && call->name == "isa");
  // Where the stack ran out before a limit, the note on the stack says why:
  // asked here, where the stack is as full, even a shallow condition fails
  // to parse.
  if (qovrin::currentWorkStack().ranOut) return {};
  const auto parsed = expr::parseOwned(condition);
  const bool written = instruction || (!parsed && parsed.error() == Error::NestingTooDeep);
  return oneNote(std::string(written ? kExpressionNesting : kValueNesting));
}

std::string_view lineNestingLimit(std::string_view line) {
  return line.ends_with('{') ? kBlockNesting : kExpressionNesting;
}

}  // namespace frontend::lower::block_notes
