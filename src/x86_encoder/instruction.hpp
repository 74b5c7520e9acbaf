#pragma once
// The per-instruction record, as far as operand parsing writes into it: a
// segment override or address-size word written inside an operand lands in
// the instruction's prefix slots.

#include <array>
#include <cstddef>
#include <cstdint>

namespace x86_encoder::api {

// Prefix slots, in the order the legacy prefix bytes are emitted.
enum class PrefixSlot : std::uint8_t {
  wait = 0,
  segment = 1,  // register id of a segment register
  address_size = 2,
  lock = 3,
  operand_size = 4,
  rep = 5,
  encoding = 6,
  marker_370 = 7,
  marker_371 = 8,
};
inline constexpr std::size_t kPrefixSlotCount = 9;

// Prefix codes share one number space with register ids (1-344).
inline constexpr std::uint32_t kPrefixA16 = 345;
inline constexpr std::uint32_t kPrefixA32 = 346;
inline constexpr std::uint32_t kPrefixA64 = 347;

struct X86Instruction {
  std::array<std::uint32_t, kPrefixSlotCount> prefixes{};  // 0 = empty

  std::uint32_t& prefix(PrefixSlot slot) noexcept { return prefixes[static_cast<std::size_t>(slot)]; }
  std::uint32_t prefix(PrefixSlot slot) const noexcept { return prefixes[static_cast<std::size_t>(slot)]; }
};

}  // namespace x86_encoder::api
