#pragma once
// How many arguments each built-in call and each value builtin takes, and
// the shape of its argument list, for the note beside a call given another
// number of them or arguments it refuses.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace frontend::lower::call_arity_notes {

// Counts from `least` to `most` are taken; `skips` is a count in between that
// is not (emit.file takes its window whole or not at all).
inline constexpr std::size_t kAny = SIZE_MAX;
inline constexpr std::size_t kNoSkip = SIZE_MAX;

struct Shape {
  std::string_view name;
  std::size_t least;
  std::size_t most;
  std::string_view form;
  std::size_t skips = kNoSkip;
};

// The value builtins (len, list.slice, fs.read_bytes, region_base, ...), by
// name.
std::span<const Shape> valueShapes() noexcept;

// Whether the built-in call `name` takes `count` arguments; none for a name
// that is no built-in call.
std::optional<bool> takesCount(std::string_view name, std::size_t count) noexcept;

// "'region.begin' takes 3 arguments, 1 given: region.begin(name, address,
// file_offset)"; none when `name` is no built-in call or takes `given`.
std::optional<std::string> arityNote(std::string_view name, std::size_t given);

// The same for a value builtin: "'bytes.replace' takes 4 arguments, 3 given:
// bytes.replace(bytes, offset, count, with)".
std::optional<std::string> valueArityNote(std::string_view name, std::size_t given);

// A value builtin's arguments as a note names them: "(list, start, count)";
// none for a name that is no value builtin or has more than one form.
std::optional<std::string_view> valueArguments(std::string_view name) noexcept;

}  // namespace frontend::lower::call_arity_notes
