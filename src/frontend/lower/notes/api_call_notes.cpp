#include "frontend/lower/notes/api_call_notes.hpp"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "common/little_endian.hpp"
#include "frontend/lower/expression_materialization.hpp"
#include "frontend/lower/notes/call_arity_notes.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::api_call_notes {

using diagnostic::Note;
using expr::Node;
using failure_asking::Asking;
using failure_asking::oneNote;
using failure_asking::quoted;
using failure_asking::argumentCount;

namespace {

// The calls whose values must fit their field: bytes per value, the first
// argument that is a value (a store's first names the place, padding's
// first its size) and what the field is called.
struct IntegerCall {
  std::string_view name;
  unsigned width;
  std::size_t first_value;
  std::string_view field = "field";
};

constexpr IntegerCall kIntegerCalls[] = {
    {"emit.u8", 1, 0},
    {"emit.u16", 2, 0},
    {"emit.u32", 4, 0},
    {"db", 1, 0},
    {"dw", 2, 0},
    {"dd", 4, 0},
    {"dp", 6, 0},
    {"store.u8", 1, 1},
    {"store.u16", 2, 1},
    {"store.u32", 4, 1},
    {"pad", 1, 1, "fill byte"},
    {"pad_to", 1, 1, "fill byte"},
    {"align", 1, 1, "fill byte"},
};

}  // namespace

std::vector<Note> integerNotes(const Asking& asking, const ast::Statement& statement) {
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  if (call == nullptr) return {};
  const auto found =
      std::ranges::find_if(kIntegerCalls, [&](const IntegerCall& entry) { return entry.name == call->name; });
  if (found == std::end(kIntegerCalls)) return {};
  for (std::size_t index = found->first_value; index < call->arguments.size(); ++index) {
    const Node* node = call->arguments[index].expression();
    if (node == nullptr) continue;
    const auto value = asking.evaluate(*node);
    if (!value || value->asInteger() == nullptr) continue;
    const std::uint64_t word = value->asInteger()->word;
    if (qovrin::fitsIntegerWidth(word, found->width)) continue;
    const std::string shown = failure_asking::wordText(word, *node, asking.module);
    return {{shown + " does not fit the " + std::to_string(8 * found->width) + "-bit " + std::string(found->field) +
                 " of " + call->name,
             std::nullopt}};
  }
  return {};
}

std::vector<Note> arityNotes(const Asking& asking, const ast::ApiCallStatement& call) {
  if (const auto index = asking.context.functions.find(call.name)) {
    const ast::MetaFunctionStatement& function = asking.context.functions.at(*index);
    return {{quoted(call.name) + " takes " + argumentCount(function.params.size()) + ", " +
                 std::to_string(call.arguments.size()) + " given",
             std::nullopt},
            {"defined here", function.location}};
  }
  if (auto note = call_arity_notes::arityNote(call.name, call.arguments.size())) return oneNote(std::move(*note));
  return {};
}

// Padding or a reservation that cannot go where the output stands.
std::vector<Note> placementNotes(const Asking& asking, const ast::ApiCallStatement& call) {
  if (call.arguments.empty()) return {};
  const auto count = root::integerArgAtContext(asking.module, asking.context, asking.cursor, call, 0);
  if (!count) return {};
  contracts::ActiveOutput synced = asking.cursor;
  if (!expression_materialization::syncActiveOutput(asking.module, synced)) return {};
  const std::uint64_t reached = std::max(synced.offset, synced.file_cursor);
  const std::string stands = "the output stands at " + std::to_string(reached);
  if (call.name == "pad_to") {
    if (*count >= reached) return {};
    return oneNote("pad_to(" + std::to_string(*count) + ") lies behind the output: " + stands);
  }
  return oneNote(call.name + "(" + std::to_string(*count) +
                 ") reaches past the end of the 64-bit address range: " + stands);
}

bool reservesOrPads(std::string_view name) {
  static constexpr std::string_view kNames[] = {"pad_to", "rb",  "rw",  "rd",   "rq",     "rp",
                                                "rt",     "rdq", "rqq", "rdqq", "reserve"};
  return std::ranges::find(kNames, name) != std::end(kNames);
}

}  // namespace frontend::lower::api_call_notes
