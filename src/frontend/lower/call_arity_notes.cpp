#include "frontend/lower/call_arity_notes.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "common/display_text.hpp"

namespace frontend::lower::call_arity_notes {

namespace {

// Counts from `least` to `most` are taken; `skips` is a count in between that
// is not (emit.file takes its window whole or not at all).
constexpr std::size_t kAny = SIZE_MAX;
constexpr std::size_t kNoSkip = SIZE_MAX;

struct Shape {
  std::string_view name;
  std::size_t least;
  std::size_t most;
  std::string_view form;
  std::size_t skips = kNoSkip;
};

// Sorted by name, as the dispatcher's table is.
constexpr std::array kShapes = {
    Shape{"align", 1, 2, "align(alignment) or align(alignment, fill)"},
    Shape{"assert", 1, 2, "assert(condition) or assert(condition, message)"},
    Shape{"db", 1, kAny, "db(value, ...)"},
    Shape{"dd", 1, kAny, "dd(value, ...)"},
    Shape{"ddq", 1, kAny, "ddq(value, ...)"},
    Shape{"ddqq", 1, kAny, "ddqq(value, ...)"},
    Shape{"dp", 1, kAny, "dp(value, ...)"},
    Shape{"dq", 1, kAny, "dq(value, ...)"},
    Shape{"dqq", 1, kAny, "dqq(value, ...)"},
    Shape{"dt", 1, kAny, "dt(value, ...)"},
    Shape{"dw", 1, kAny, "dw(value, ...)"},
    Shape{"emit.bytes", 1, 1, "emit.bytes(data)"},
    Shape{"emit.f32", 1, 1, "emit.f32(value)"},
    Shape{"emit.f64", 1, 1, "emit.f64(value)"},
    Shape{"emit.file", 1, 3, "emit.file(path) or emit.file(path, offset, length)", 2},
    Shape{"emit.struct", 1, 1, "emit.struct(value)"},
    Shape{"emit.u16", 1, 1, "emit.u16(value)"},
    Shape{"emit.u32", 1, 1, "emit.u32(value)"},
    Shape{"emit.u64", 1, 1, "emit.u64(value)"},
    Shape{"emit.u8", 1, 1, "emit.u8(value)"},
    Shape{"err", 1, kAny, "err(message, ...)"},
    Shape{"import", 1, 1, "import(path)"},
    Shape{"include", 1, 1, "include(path)"},
    Shape{"isa", 1, 1, "isa(text)"},
    Shape{"label.define", 1, 1, "label.define(name)"},
    Shape{"origin", 1, 1, "origin(address)"},
    Shape{"output.org", 2, 2, "output.org(name, address)"},
    Shape{"output.section", 2, 2, "output.section(name, address)"},
    Shape{"pad", 1, 2, "pad(count) or pad(count, fill)"},
    Shape{"pad_to", 1, 2, "pad_to(offset) or pad_to(offset, fill)"},
    Shape{"print", 1, kAny, "print(value, ...)"},
    Shape{"rb", 1, 1, "rb(count)"},
    Shape{"rd", 1, 1, "rd(count)"},
    Shape{"rdq", 1, 1, "rdq(count)"},
    Shape{"rdqq", 1, 1, "rdqq(count)"},
    Shape{"region.begin", 3, 3, "region.begin(name, address, file_offset)"},
    Shape{"region.file_align", 1, 1, "region.file_align(alignment)"},
    Shape{"reserve", 1, 1, "reserve(size)"},
    Shape{"riscv.use32", 0, 0, "riscv.use32()"},
    Shape{"riscv.use64", 0, 0, "riscv.use64()"},
    Shape{"rp", 1, 1, "rp(count)"},
    Shape{"rq", 1, 1, "rq(count)"},
    Shape{"rqq", 1, 1, "rqq(count)"},
    Shape{"rt", 1, 1, "rt(count)"},
    Shape{"rw", 1, 1, "rw(count)"},
    Shape{"spv.use", 0, 0, "spv.use()"},
    Shape{"store.bytes", 2, 2, "store.bytes(place, data)"},
    Shape{"store.u16", 2, 2, "store.u16(place, value)"},
    Shape{"store.u32", 2, 2, "store.u32(place, value)"},
    Shape{"store.u64", 2, 2, "store.u64(place, value)"},
    Shape{"store.u8", 2, 2, "store.u8(place, value)"},
    Shape{"virtual.begin", 0, 1, "virtual.begin() or virtual.begin(base)"},
    Shape{"virtual.end", 0, 0, "virtual.end()"},
    Shape{"warn", 1, kAny, "warn(message, ...)"},
    Shape{"x86.use16", 0, 0, "x86.use16()"},
    Shape{"x86.use32", 0, 0, "x86.use32()"},
    Shape{"x86.use64", 0, 0, "x86.use64()"},
};
static_assert(std::ranges::is_sorted(kShapes, std::ranges::less{}, &Shape::name));

const Shape* shapeOf(std::string_view name) noexcept {
  const auto found = std::ranges::lower_bound(kShapes, name, {}, &Shape::name);
  return found != kShapes.end() && found->name == name ? &*found : nullptr;
}

bool takes(const Shape& shape, std::size_t count) noexcept {
  return count >= shape.least && count <= shape.most && count != shape.skips;
}

std::string arguments(std::size_t count) { return count == 1 ? "1 argument" : std::to_string(count) + " arguments"; }

std::string counts(const Shape& shape) {
  if (shape.most == 0) return "no arguments";
  if (shape.most == kAny) return "at least " + arguments(shape.least);
  if (shape.least == shape.most) return arguments(shape.least);
  const std::size_t second = shape.skips == kNoSkip || shape.least + 1 != shape.skips ? shape.least + 1 : shape.most;
  if (second == shape.most) return std::to_string(shape.least) + " or " + arguments(shape.most);
  return std::to_string(shape.least) + " to " + arguments(shape.most);
}

}  // namespace

std::optional<bool> takesCount(std::string_view name, std::size_t count) noexcept {
  const Shape* shape = shapeOf(name);
  if (shape == nullptr) return std::nullopt;
  return takes(*shape, count);
}

std::optional<std::string> arityNote(std::string_view name, std::size_t given) {
  const Shape* shape = shapeOf(name);
  if (shape == nullptr || takes(*shape, given)) return std::nullopt;
  return qovrin::quotedSubject(name) + " takes " + counts(*shape) + ", " + std::to_string(given) +
         " given: " + std::string(shape->form);
}

}  // namespace frontend::lower::call_arity_notes
