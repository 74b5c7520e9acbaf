#include "frontend/module/name_index.hpp"

#include <algorithm>
#include <utility>

namespace frontend::name_index {

void NameIndex::reserveOne() {
  if (2 * (count_ + 1) <= slots_.size()) return;
  std::vector<Slot> old(std::max<std::size_t>(16, 2 * slots_.size()));
  old.swap(slots_);
  for (const Slot& slot : old)
    if (slot.position != kEmpty) place(slot);
}

void NameIndex::add(std::string_view name, std::uint32_t position) noexcept {
  place(Slot{hashOf(name), position});
  ++count_;
}

void NameIndex::place(Slot slot) noexcept {
  std::size_t at = slot.hash & mask();
  while (slots_[at].position != kEmpty) at = (at + 1) & mask();
  slots_[at] = slot;
}

}  // namespace frontend::name_index
