#include "frontend/lower/notes/builtin_range_notes.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "frontend/lower/notes/call_arity_notes.hpp"

namespace frontend::lower::builtin_range_notes {

using failure_asking::Asking;
using failure_asking::quoted;

namespace {

// Where each builtin keeps the place its arguments must not pass: the
// argument of the place and, when it spans, of its count.
struct Reach {
  std::string_view name;
  std::size_t place;
  std::optional<std::size_t> count;
};

constexpr std::array kReaches = {
    Reach{"list.get", 1, std::nullopt},  Reach{"list.set", 1, std::nullopt}, Reach{"list.slice", 1, 2},
    Reach{"bytes.insert", 1, std::nullopt}, Reach{"bytes.replace", 1, 2},
};

// "a 3-element list", "3 bytes".
std::optional<std::string> extentOf(const value::Value& value) {
  if (const auto* list = value.asList())
    return "a " + std::to_string(list->size()) + "-element list";
  if (const auto* bytes = value.asBytes())
    return std::to_string(bytes->size()) + (bytes->size() == 1 ? " byte" : " bytes");
  return std::nullopt;
}

std::optional<std::uint64_t> sizeOf(const value::Value& value) {
  if (const auto* list = value.asList()) return list->size();
  if (const auto* bytes = value.asBytes()) return bytes->size();
  return std::nullopt;
}

}  // namespace

std::optional<std::string> rangeNote(const Asking& asking, const expr::Node& call) {
  const auto reach = std::ranges::find(kReaches, call.text(), &Reach::name);
  const auto arguments = call_arity_notes::valueArguments(call.text());
  if (reach == kReaches.end() || !arguments || call.arguments().size() <= reach->count.value_or(reach->place))
    return std::nullopt;
  const auto whole = asking.evaluate(call.arguments()[0]);
  const auto place = failure_asking::integerArgument(asking, call, reach->place);
  const auto count = reach->count ? failure_asking::integerArgument(asking, call, *reach->count) : std::uint64_t{0};
  if (!whole || !place || !count) return std::nullopt;
  const auto size = sizeOf(*whole);
  const auto extent = extentOf(*whole);
  if (!size || !extent) return std::nullopt;
  const std::string takes = quoted(call.text()) + " takes " + std::string(*arguments) + ": ";
  const bool is_list = whole->asList() != nullptr;
  // An index names an element, so it must lie below the size; an offset
  // into bytes may stand at their end.
  if (!reach->count) {
    if (is_list ? *place < *size : *place <= *size) return std::nullopt;
    return takes + (is_list ? "index " : "offset ") + std::to_string(*place) + " is past the end of " + *extent;
  }
  std::uint64_t end = 0;
  if (!__builtin_add_overflow(*place, *count, &end) && end <= *size) return std::nullopt;
  return takes + std::to_string(*place) + " + " + std::to_string(*count) + " passes the end of " + *extent;
}

std::optional<std::string> imageNote(const expr::Node& call) {
  const std::string_view name = call.text();
  if (!name.starts_with("region_") || name == "region_base") return std::nullopt;
  const auto arguments = call_arity_notes::valueArguments(name);
  if (!arguments) return std::nullopt;
  return quoted(name) + " takes " + std::string(*arguments) +
         " and reads the finished image, which only a 'defer' block sees";
}

}  // namespace frontend::lower::builtin_range_notes
