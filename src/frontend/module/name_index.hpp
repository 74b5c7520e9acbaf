#pragma once
// Positions of names that the caller stores in its own records, found by
// hash. The index keeps no copy of a name: each slot is 32 bits, the position
// plus one in its low bits and, in the bits the position cannot reach, more
// bits of the name's hash, so that a lookup reads a stored name only when
// those agree. Positions are only ever added.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace frontend::name_index {

class NameIndex {
 public:
  // The position of the name, where name_of(position) gives the name stored
  // at a position.
  template <typename NameOf>
  std::optional<std::uint32_t> find(std::string_view name, NameOf&& name_of) const noexcept {
    if (slots_.empty()) return std::nullopt;
    const std::uint64_t hash = hashOf(name);
    const std::uint32_t tag = tagOf(hash);
    for (std::size_t at = hash & mask();; at = (at + 1) & mask()) {
      const std::uint32_t slot = slots_[at];
      if (slot == kEmpty) return std::nullopt;
      if ((slot & ~positionMask()) == tag && name_of((slot & positionMask()) - 1) == name)
        return (slot & positionMask()) - 1;
    }
  }

  // Makes room for one more position, so that the next add cannot fail. A
  // larger table is filled again from the names, positions 0 up to the
  // count, which name_of gives.
  template <typename NameOf>
  void reserveOne(NameOf&& name_of) {
    if (4 * (count_ + 1) <= 3 * slots_.size()) return;
    if (slots_.size() >= kMaxSlots) throw std::bad_alloc();
    NameIndex larger;
    larger.slots_.assign(std::max<std::size_t>(16, 2 * slots_.size()), kEmpty);
    larger.shift_ = static_cast<unsigned>(std::countr_zero(larger.slots_.size()));
    for (std::uint32_t position = 0; position < count_; ++position) larger.add(name_of(position), position);
    *this = std::move(larger);
  }

  // Adds a position under a name the index does not hold yet; reserveOne
  // came first.
  void add(std::string_view name, std::uint32_t position) noexcept;

 private:
  static constexpr std::uint32_t kEmpty = 0;
  // Positions plus one stay below the table size, and take its bits.
  static constexpr std::size_t kMaxSlots = std::size_t{1} << 31;

  static std::uint64_t hashOf(std::string_view name) noexcept { return std::hash<std::string_view>{}(name); }
  std::size_t mask() const noexcept { return slots_.size() - 1; }
  std::uint32_t positionMask() const noexcept { return (std::uint32_t{1} << shift_) - 1; }
  // The hash's top bits, in the slot bits above the position.
  std::uint32_t tagOf(std::uint64_t hash) const noexcept {
    return static_cast<std::uint32_t>(hash >> 32) & ~positionMask();
  }

  std::vector<std::uint32_t> slots_;  // a power of two long, at most three quarters full
  unsigned shift_ = 0;                // log2 of the table size
  std::size_t count_ = 0;
};

}  // namespace frontend::name_index
