#include "frontend/module/name_index.hpp"

namespace frontend::name_index {

void NameIndex::add(std::string_view name, std::uint32_t position) noexcept {
  const std::uint64_t hash = hashOf(name);
  std::size_t at = hash & mask();
  while (slots_[at] != kEmpty) at = (at + 1) & mask();
  slots_[at] = tagOf(hash) | (position + 1);
  ++count_;
}

}  // namespace frontend::name_index
