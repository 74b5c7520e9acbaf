#pragma once
// Positions of names that the caller stores in its own records, found by
// hash. The index keeps no copy of a name: each slot holds a position and
// 32 bits of the name's hash, so a lookup touches one slot run and reads a
// stored name only when the hash bits agree. Positions are only ever added.

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace frontend::name_index {

class NameIndex {
 public:
  // The position of the name, where name_of(position) gives the name stored
  // at a position.
  template <typename NameOf>
  std::optional<std::uint32_t> find(std::string_view name, NameOf&& name_of) const noexcept {
    if (slots_.empty()) return std::nullopt;
    const std::uint32_t hash = hashOf(name);
    for (std::size_t at = hash & mask();; at = (at + 1) & mask()) {
      const Slot& slot = slots_[at];
      if (slot.position == kEmpty) return std::nullopt;
      if (slot.hash == hash && name_of(slot.position) == name) return slot.position;
    }
  }

  // Makes room for one more position, so that the next add cannot fail.
  void reserveOne();

  // Adds a position under a name the index does not hold yet; reserveOne
  // came first.
  void add(std::string_view name, std::uint32_t position) noexcept;

 private:
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};

  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t position = kEmpty;
  };

  static std::uint32_t hashOf(std::string_view name) noexcept {
    return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
  }
  std::size_t mask() const noexcept { return slots_.size() - 1; }
  void place(Slot slot) noexcept;

  std::vector<Slot> slots_;  // a power of two long, at most half full
  std::size_t count_ = 0;
};

}  // namespace frontend::name_index
