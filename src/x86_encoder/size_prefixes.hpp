#pragma once
// The prefix decisions sizing takes once the program has been read: REX,
// REX2, VEX or EVEX and their length, the checks on lock, lock elision, BND
// and branch hints, and the legacy prefix bytes of the nine slots.

#include <cstdint>

#include "common/error.hpp"
#include "x86_encoder/instruction.hpp"
#include "x86_encoder/size.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::size {

void count(const X86SizeContext& context, PrefixCounter counter) noexcept;

struct SlotByte {
  std::int32_t byte = 0;  // a prefix byte or one of the negative answers of prefixByte
  bool conflict = false;  // the template fixes the slot's byte, which the word written cannot change
};

// Bit n set when slot n holds a word or the template forces a byte there;
// both prefix walks visit only these slots, in slot order.
inline std::uint32_t occupiedSlots(const api::X86Instruction& instruction) noexcept {
  std::uint32_t occupied = 0;
  for (std::size_t index = 0; index < api::kPrefixSlotCount; ++index)
    occupied |= static_cast<std::uint32_t>(
                    (instruction.prefixes[index] | static_cast<std::uint16_t>(instruction.forced[index])) != 0)
                << index;
  return occupied;
}

// The byte of one slot: the written word's byte, unless the template forces
// another and the word is only a size choice; a repeat word where the
// template fixes the byte, or another word where it forces a different one,
// conflicts.
SlotByte slotByte(std::uint32_t code, std::int16_t forced, std::uint8_t mode_bits) noexcept;

// The no-high-byte demand, o64 as REX.W and the encoding selector.
qovrin::Status settleRexAndSelector(api::X86Instruction& instruction);

// Bytes of the REX, REX2, VEX or EVEX prefix with the map escapes.
qovrin::Result<std::int64_t> encodingPrefixLength(api::X86Instruction& instruction, tables::TemplateRef chosen,
                                                  const X86SizeContext& context);

// Counts lock, lock-elision and branch-hint misuse; turns on BND by default.
void checkPrefixUse(api::X86Instruction& instruction, tables::TemplateRef chosen, const X86SizeContext& context,
                    std::uint8_t lock_class) noexcept;

// The legacy prefix bytes' length; keeps the bytes, in slot order, for code
// generation. UnsupportedPrefixes for a word in a slot whose byte the opcode
// fixes and for a repeat word before VEX or EVEX.
qovrin::Result<std::int64_t> legacyPrefixLength(api::X86Instruction& instruction);

}  // namespace x86_encoder::size
