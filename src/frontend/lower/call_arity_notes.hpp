#pragma once
// How many arguments each built-in call takes, and the shape of its argument
// list, for the note beside a call given another number of them.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace frontend::lower::call_arity_notes {

// Whether the built-in call `name` takes `count` arguments; none for a name
// that is no built-in call.
std::optional<bool> takesCount(std::string_view name, std::size_t count) noexcept;

// "'region.begin' takes 3 arguments, 1 given: region.begin(name, address,
// file_offset)"; none when `name` is no built-in call or takes `given`.
std::optional<std::string> arityNote(std::string_view name, std::size_t given);

}  // namespace frontend::lower::call_arity_notes
