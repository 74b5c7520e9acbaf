#include "frontend/lower/notes/call_arity_notes.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "common/display_text.hpp"

namespace frontend::lower::call_arity_notes {

namespace {

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

// Sorted by name; a test holds it to the library's and the evaluator's
// dispatch.
constexpr std::array kValueShapes = {
    Shape{"bytes.concat", 2, 2, "bytes.concat(bytes, more)"},
    Shape{"bytes.eq", 2, 2, "bytes.eq(bytes, other)"},
    Shape{"bytes.from_hex", 1, 1, "bytes.from_hex(text)"},
    Shape{"bytes.hex", 1, 1, "bytes.hex(bytes)"},
    Shape{"bytes.insert", 3, 3, "bytes.insert(bytes, offset, with)"},
    Shape{"bytes.le", 2, 2, "bytes.le(value, width)"},
    Shape{"bytes.new", 0, 0, "bytes.new()"},
    Shape{"bytes.push", 2, 2, "bytes.push(bytes, byte)"},
    Shape{"bytes.repeat", 2, 2, "bytes.repeat(count, byte)"},
    Shape{"bytes.replace", 4, 4, "bytes.replace(bytes, offset, count, with)"},
    Shape{"contains", 2, 2, "contains(text, part)"},
    Shape{"crypto.adler32", 1, 1, "crypto.adler32(data)"},
    Shape{"crypto.crc32", 1, 1, "crypto.crc32(data)"},
    Shape{"crypto.sha1", 1, 1, "crypto.sha1(data)"},
    Shape{"crypto.sha256", 1, 1, "crypto.sha256(data)"},
    Shape{"deflate.compress", 1, 2, "deflate.compress(data) or deflate.compress(data, level)"},
    Shape{"deflate.decompress", 1, 1, "deflate.decompress(data)"},
    Shape{"ends_with", 2, 2, "ends_with(text, suffix)"},
    Shape{"f32", 1, 1, "f32(value)"},
    Shape{"f64", 1, 1, "f64(value)"},
    Shape{"file_cursor_potential", 0, 0, "file_cursor_potential()"},
    Shape{"file_cursor_real", 0, 0, "file_cursor_real()"},
    Shape{"file_offset", 0, 0, "file_offset()"},
    Shape{"fs.exists", 1, 1, "fs.exists(path)"},
    Shape{"fs.is_dir", 1, 1, "fs.is_dir(path)"},
    Shape{"fs.list_dir", 1, 1, "fs.list_dir(path)"},
    Shape{"fs.read_bytes", 1, 3, "fs.read_bytes(path) or fs.read_bytes(path, offset, length)", 2},
    Shape{"fs.read_text", 1, 1, "fs.read_text(path)"},
    Shape{"here", 0, 0, "here()"},
    Shape{"join", 2, 2, "join(list, separator)"},
    Shape{"json.file", 1, 1, "json.file(path)"},
    Shape{"json.parse", 1, 1, "json.parse(text)"},
    Shape{"label_addr", 1, 1, "label_addr(name)"},
    Shape{"len", 1, 1, "len(value)"},
    Shape{"lengthof", 1, 1, "lengthof(name)"},
    Shape{"list.concat", 2, 2, "list.concat(list, more)"},
    Shape{"list.eq", 2, 2, "list.eq(list, other)"},
    Shape{"list.get", 2, 2, "list.get(list, index)"},
    Shape{"list.new", 0, 0, "list.new()"},
    Shape{"list.of", 0, kAny, "list.of(value, ...)"},
    Shape{"list.push", 2, 2, "list.push(list, value)"},
    Shape{"list.set", 3, 3, "list.set(list, index, value)"},
    Shape{"list.slice", 3, 3, "list.slice(list, start, count)"},
    Shape{"load.bytes", 2, 2, "load.bytes(place, count)"},
    Shape{"load.u16", 1, 1, "load.u16(place)"},
    Shape{"load.u32", 1, 1, "load.u32(place)"},
    Shape{"load.u64", 1, 1, "load.u64(place)"},
    Shape{"load.u8", 1, 1, "load.u8(place)"},
    Shape{"lower", 1, 1, "lower(text)"},
    Shape{"map.eq", 2, 2, "map.eq(map, other)"},
    Shape{"map.get", 2, 2, "map.get(map, key)"},
    Shape{"map.get_or", 3, 3, "map.get_or(map, key, default)"},
    Shape{"map.has", 2, 2, "map.has(map, key)"},
    Shape{"map.keys", 1, 1, "map.keys(map)"},
    Shape{"map.new", 0, 0, "map.new()"},
    Shape{"map.set", 3, 3, "map.set(map, key, value)"},
    Shape{"map.values", 1, 1, "map.values(map)"},
    Shape{"match.tokens", 2, 2, "match.tokens(tokens, pattern)"},
    Shape{"offset_of", 2, 2, "offset_of(type, field)"},
    Shape{"operand.eval", 1, 1, "operand.eval(operand)"},
    Shape{"operand.slice", 3, 3, "operand.slice(operand, start, end)"},
    Shape{"operand.split", 1, 1, "operand.split(operand)"},
    Shape{"operand.text", 1, 1, "operand.text(operand)"},
    Shape{"pack", 1, 1, "pack(value)"},
    Shape{"region_base", 0, 0, "region_base()"},
    Shape{"region_file_offset", 1, 1, "region_file_offset(place)"},
    Shape{"region_file_size", 1, 1, "region_file_size(place)"},
    Shape{"region_logical_size", 1, 1, "region_logical_size(place)"},
    Shape{"replace", 3, 3, "replace(text, old, new)"},
    Shape{"sizeof", 1, 1, "sizeof(type)"},
    Shape{"split", 2, 2, "split(text, separator)"},
    Shape{"starts_with", 2, 2, "starts_with(text, prefix)"},
    Shape{"sym.join", 0, kAny, "sym.join(value, ...)"},
    Shape{"sym.unique", 1, 1, "sym.unique(prefix)"},
    Shape{"tail_reserve_size", 0, 0, "tail_reserve_size()"},
    Shape{"to_string", 1, 1, "to_string(value)"},
    Shape{"tokens.join", 1, 1, "tokens.join(tokens)"},
    Shape{"tokens.of", 1, 1, "tokens.of(text)"},
    Shape{"toml.file", 1, 1, "toml.file(path)"},
    Shape{"toml.parse", 1, 1, "toml.parse(text)"},
    Shape{"trim", 1, 1, "trim(text)"},
    Shape{"upper", 1, 1, "upper(text)"},
};
static_assert(std::ranges::is_sorted(kValueShapes, std::ranges::less{}, &Shape::name));

const Shape* shapeIn(std::span<const Shape> shapes, std::string_view name) noexcept {
  const auto found = std::ranges::lower_bound(shapes, name, {}, &Shape::name);
  return found != shapes.end() && found->name == name ? &*found : nullptr;
}

const Shape* shapeOf(std::string_view name) noexcept { return shapeIn(kShapes, name); }

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

std::optional<std::string> noteFor(const Shape* shape, std::size_t given) {
  if (shape == nullptr || takes(*shape, given)) return std::nullopt;
  return qovrin::quotedSubject(shape->name) + " takes " + counts(*shape) + ", " + std::to_string(given) +
         " given: " + std::string(shape->form);
}

}  // namespace

std::optional<bool> takesCount(std::string_view name, std::size_t count) noexcept {
  const Shape* shape = shapeOf(name);
  if (shape == nullptr) return std::nullopt;
  return takes(*shape, count);
}

std::span<const Shape> valueShapes() noexcept { return kValueShapes; }

std::optional<std::string> arityNote(std::string_view name, std::size_t given) {
  return noteFor(shapeOf(name), given);
}

std::optional<std::string> valueArityNote(std::string_view name, std::size_t given) {
  return noteFor(shapeIn(kValueShapes, name), given);
}

std::optional<std::string_view> valueArguments(std::string_view name) noexcept {
  const Shape* shape = shapeIn(kValueShapes, name);
  if (shape == nullptr || shape->least != shape->most) return std::nullopt;
  return shape->form.substr(shape->name.size());
}

}  // namespace frontend::lower::call_arity_notes
