#include "frontend/lower/notes/store_notes.hpp"


#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::store_notes {

namespace {

// How many bytes the store writes: its width, or the bytes it is given.
std::optional<std::uint64_t> storedCount(const failure_asking::Asking& asking, const ast::ApiCallStatement& call) {
  if (const auto width = api::storeByteCount(call.name)) return *width;
  if (call.name != "store.bytes") return std::nullopt;
  const auto data = root::valueArgAtContext(asking.module, asking.context, asking.cursor, call, 1);
  if (!data) return std::nullopt;
  if (const auto* bytes = data->asBytes()) return bytes->size();
  if (const auto* text = data->asString()) return text->size();
  return std::nullopt;
}

}  // namespace

std::optional<std::string> outsideNote(const failure_asking::Asking& asking, const ast::ApiCallStatement& call) {
  if (call.arguments.size() != 2) return std::nullopt;
  const auto count = storedCount(asking, call);
  if (!count) return std::nullopt;
  const auto target = root::outputStoreTargetAtContext(asking.module, asking.context, asking.cursor, call, 0);
  if (!target || target->section >= asking.module.sections().size()) return std::nullopt;
  const auto held = layout_cursor::sectionCursor(asking.module, target->section);
  if (!held) return std::nullopt;
  const std::uint64_t base = asking.module.sections()[target->section].base;
  const std::uint64_t end = target->address + *count;
  if (target->address >= base && end >= target->address && end - base <= *held) return std::nullopt;
  std::string note = failure_asking::quoted(call.name) + " writes " + failure_asking::byteCount(*count) + " at address " +
                     failure_asking::hexNumber(target->address) + ", outside the " + failure_asking::byteCount(*held) + " its section holds";
  if (*held == 0) return note;
  return note + ", at " + failure_asking::hexNumber(base) + (*held > 1 ? " to " + failure_asking::hexNumber(base + (*held - 1)) : "");
}

}  // namespace frontend::lower::store_notes
