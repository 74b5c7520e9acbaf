#include "frontend/lower/notes/limit_notes.hpp"

#include <algorithm>
#include <deque>
#include <string>

#include "frontend/lower/macro.hpp"
#include "frontend/lower/reading.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/operand_text.hpp"

namespace frontend::lower::limit_notes {

using failure_asking::oneNote;
using failure_asking::quoted;

namespace {

// How many sources of a long chain are shown at each end.
constexpr std::size_t kChainEnds = 3;

static_assert(macro::kMaxExpansions == 100000 && context::kMaxIncludeDepth == 128 && operand_text::kMaxOperands == 256 &&
              module::kMaxImageSize == std::uint64_t{1} << 31 && meta_std::kMaxResultBytes == std::uint64_t{1} << 30);

std::string bytesAndCap(std::uint64_t cap, std::string_view shown) {
  return std::to_string(cap) + " bytes (" + std::string(shown) + ")";
}

}  // namespace

std::vector<diagnostic::Note> expansionNotes() {
  return oneNote("a run expands macros at most 100,000 times, and this expansion is one more; a macro that calls "
                 "itself or is called in a long loop reaches the limit");
}

std::vector<diagnostic::Note> includeDepthNotes(const context::LowerContext& context) {
  const auto& stack = context.include_stack;
  if (stack.empty()) return {};
  std::string chain = quoted(stack.front().path);
  for (std::size_t index = 1; index < stack.size(); ++index) {
    if (index == kChainEnds && stack.size() > 2 * kChainEnds) {
      chain += " ... (" + std::to_string(stack.size() - 2 * kChainEnds) + " more)";
      index = stack.size() - kChainEnds;
    }
    chain += " > " + quoted(stack[index].path);
  }
  return oneNote("includes nest at most 128 deep, the source included: " + chain + " includes one more");
}

std::vector<diagnostic::Note> operandCountNotes(std::string_view line, qovrin::quoted_text::Rules strings) {
  // The operands follow the macro's name; the commas outside strings and
  // brackets part them.
  const std::size_t name_end = macro::firstWordEnd(line);
  qovrin::quoted_text::Cursor cursor(strings);
  std::size_t depth = 0;
  std::size_t count = 1;
  for (std::size_t at = name_end; at < line.size(); ++at) {
    if (!cursor.outside(line, at)) continue;
    const char c = line[at];
    if (c == '(' || c == '[' || c == '{') ++depth;
    if ((c == ')' || c == ']' || c == '}') && depth > 0) --depth;
    if (c == ',' && depth == 0) ++count;
  }
  if (count <= operand_text::kMaxOperands) return {};
  return oneNote("a macro takes at most 256 operands, and this line gives " + std::to_string(count));
}

std::vector<diagnostic::Note> sizeNotes(const failure_asking::Asking& asking, const ast::Statement& statement) {
  const std::string cap = "the output holds at most " + bytesAndCap(module::kMaxImageSize, "2 GiB");
  if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload)) {
    const auto& sections = asking.module.sections();
    if (!sections.contains(asking.cursor.section)) return {};
    std::uint64_t reached = 0;
    if (__builtin_add_overflow(sections[asking.cursor.section].file_offset,
                               std::max(asking.cursor.offset, asking.cursor.file_cursor), &reached))
      return {};
    const std::string at = "file offset " + failure_asking::hexNumber(reached);
    if (reached > module::kMaxImageSize)
      return oneNote("the output already reaches " + at + ", past its end: " + cap +
                     ", and a reservation or a region's file offset before this line took it there");
    const std::string room = failure_asking::byteCount(module::kMaxImageSize - reached);
    if (call->name == "emit.file")
      return oneNote("the file is larger than the " + room + " the output has room for at " + at + ": " + cap);
    const auto operation = api::dataOperation(call->name);
    if (!operation || operation->kind != api::DataKind::reserve || call->arguments.size() != 1) return {};
    const auto count = root::integerArgAtContext(asking.module, asking.context, asking.cursor, *call, 0);
    if (!count) return {};
    return oneNote(call->name + "(" + std::to_string(*count) + ") reserves " + std::to_string(*count) +
                   (operation->unit == 1 ? " bytes" : " items of " + std::to_string(operation->unit) + " bytes") +
                   ", more than the " + room + " the output has room for at " + at + ": " + cap);
  }
  std::deque<expr::Node> parsed;
  const auto nodes = failure_asking::allNodes(failure_asking::expressionsOf(statement, parsed));
  const expr::Node* repeat = failure_asking::failingCall(asking, nodes, {"bytes.repeat"});
  const auto count = repeat != nullptr && !repeat->arguments().empty()
                         ? failure_asking::integerArgument(asking, *repeat, 0)
                         : std::nullopt;
  if (!count) return {};
  return oneNote("bytes.repeat would build " + std::to_string(*count) + " bytes; a builtin's result holds at most " +
                 bytesAndCap(meta_std::kMaxResultBytes, "1 GiB"));
}

std::optional<std::string> pastAddressRange(const module::Module& module, std::string_view name) {
  const symbol::Symbol* symbol = module.findSymbol(name);
  const symbol::Label* label = symbol != nullptr ? symbol->label() : nullptr;
  if (label == nullptr || module.labelAddress(*label) || !module.sections().contains(label->section))
    return std::nullopt;
  return quoted(name) + " lies past the end of the 64-bit address range: its section starts at " +
         failure_asking::hexNumber(module.sections()[label->section].base) + " and it stands " +
         failure_asking::hexNumber(label->offset) + " bytes into it";
}

std::vector<diagnostic::Note> addressNotes(const failure_asking::Asking& asking,
                                           const std::vector<const expr::Node*>& nodes) {
  for (const expr::Node* node : nodes) {
    if (node->kind() != expr::NodeKind::identifier) continue;
    if (auto note = pastAddressRange(asking.module, node->text())) return oneNote(std::move(*note));
  }
  return {};
}

}  // namespace frontend::lower::limit_notes
