#pragma once
// Which names the module's value symbols may have. Instruction lines name
// labels far more often than values, and a module holds many labels: a few
// bits per value name answer most of those lookups without touching the
// module's symbol index.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "frontend/module/module.hpp"

namespace frontend::lower::value_name_filter {

class ValueNameFilter {
 public:
  // Takes in the value symbols added since the last call. Symbols are only
  // ever appended, so each one is read once.
  void sync(const module::Module& module) noexcept;

  // Whether no value symbol was seen at all.
  bool empty() const noexcept { return seen_values_ == 0; }

  // False only when no value symbol seen so far has this name.
  bool mayHold(std::string_view name) const noexcept;

 private:
  void add(std::string_view name) noexcept;

  std::array<std::uint64_t, 4> bits_{};
  std::size_t seen_ = 0;         // symbols taken in
  std::size_t seen_values_ = 0;  // of them values
};

}  // namespace frontend::lower::value_name_filter
