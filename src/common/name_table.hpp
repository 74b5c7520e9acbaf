#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace qovrin {

// Position of the first entry equal to name, by exact bytes.
constexpr std::optional<std::size_t> indexOfName(std::span<const std::string_view> names,
                                                 std::string_view name) noexcept {
  for (std::size_t index = 0; index < names.size(); ++index)
    if (names[index] == name) return index;
  return std::nullopt;
}

}  // namespace qovrin
