#pragma once
// What fixup resolution hands to the patch phase: each fixup's target as a
// number, or none. A module keeps them from its first layout until its image
// is patched, so they are stored small.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace assembly {

// A symbol's 64-bit address plus a signed addend: wide enough for every sum,
// so a target below 0 or above 2^64 - 1 is reported by the range checks
// instead of wrapping or turning the fixup unresolved.
using WideValue = __int128;

// The resolutions of a module's fixups, the one at a position belonging to
// the fixup of that index: its target, or none when the fixup is unresolved
// or dropped (then neither patched nor pending). Targets are nearly always
// addresses below 4 GiB: those take four bytes and two bits of state, and
// any other value sits in a side list that its four bytes index.
class FixupResolutions {
 public:
  void reserve(std::size_t count);
  void push_back(std::optional<WideValue> target);

  std::size_t size() const noexcept { return values_.size(); }
  std::optional<WideValue> target(std::size_t position) const noexcept;

 private:
  enum class State : std::uint8_t { unresolved = 0, narrow = 1, wide = 2 };
  static constexpr std::size_t kStatesPerByte = 4;

  std::vector<std::uint32_t> values_;  // the value when narrow, its place in wide_ when wide
  std::vector<std::uint8_t> states_;   // two bits each, the first in the low bits
  std::vector<WideValue> wide_;
};

}  // namespace assembly
