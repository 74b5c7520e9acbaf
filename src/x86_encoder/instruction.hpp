#pragma once
// The working record of one instruction: the parsed operands and prefix
// words, the template that matching chose, and every decision sizing takes
// (prefixes, REX/VEX/EVEX fields, effective address) so that code generation
// only carries them out. Operand parsing writes the segment and address-size
// words it finds inside an operand into the prefix slots.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "x86_encoder/operand.hpp"

namespace x86_encoder::api {

// Prefix slots, in the order the legacy prefix bytes are emitted.
enum class PrefixSlot : std::uint8_t {
  wait = 0,
  segment = 1,  // register id of a segment register, or a branch hint code
  address_size = 2,
  lock = 3,
  operand_size = 4,
  rep = 5,
  encoding = 6,
  marker_370 = 7,
  marker_371 = 8,
};
inline constexpr std::size_t kPrefixSlotCount = 9;
inline constexpr std::size_t kMaxOperands = 5;

// Prefix codes share one number space with register ids (1-344).
inline constexpr std::uint32_t kPrefixA16 = 345;
inline constexpr std::uint32_t kPrefixA32 = 346;
inline constexpr std::uint32_t kPrefixA64 = 347;
inline constexpr std::uint32_t kPrefixAsp = 348;
inline constexpr std::uint32_t kPrefixLock = 349;
inline constexpr std::uint32_t kPrefixO16 = 350;
inline constexpr std::uint32_t kPrefixO32 = 351;
inline constexpr std::uint32_t kPrefixO64 = 352;
inline constexpr std::uint32_t kPrefixOsp = 353;
inline constexpr std::uint32_t kPrefixRep = 354;
inline constexpr std::uint32_t kPrefixRepe = 355;
inline constexpr std::uint32_t kPrefixRepne = 356;
inline constexpr std::uint32_t kPrefixRepnz = 357;
inline constexpr std::uint32_t kPrefixRepz = 358;
inline constexpr std::uint32_t kPrefixWait = 359;
inline constexpr std::uint32_t kPrefixXacquire = 360;
inline constexpr std::uint32_t kPrefixXrelease = 361;
inline constexpr std::uint32_t kPrefixBnd = 362;
inline constexpr std::uint32_t kPrefixNobnd = 363;
inline constexpr std::uint32_t kSelectRex = 364;
inline constexpr std::uint32_t kSelectRex2 = 365;
inline constexpr std::uint32_t kSelectEvex = 366;
inline constexpr std::uint32_t kSelectVex = 367;
inline constexpr std::uint32_t kSelectVex3 = 368;
inline constexpr std::uint32_t kSelectVex2 = 369;
inline constexpr std::uint32_t kMarker370 = 370;
inline constexpr std::uint32_t kMarker371 = 371;
inline constexpr std::uint32_t kHintTaken = 372;      // written as 3E
inline constexpr std::uint32_t kHintNotTaken = 373;   // written as 2E
inline constexpr std::uint32_t kRoundingFirst = 396;  // rn-sae; rd, ru, rz follow
inline constexpr std::uint32_t kRoundingSae = 400;

// REX flag word.
inline constexpr std::uint32_t kRexB = 0x1;
inline constexpr std::uint32_t kRexX = 0x2;
inline constexpr std::uint32_t kRexR = 0x4;
inline constexpr std::uint32_t kRexW = 0x8;
inline constexpr std::uint32_t kRexLockAsR = 0x20;
inline constexpr std::uint32_t kRexRequired = 0x40;
inline constexpr std::uint32_t kRexHighByte = 0x80;
inline constexpr std::uint32_t kRexVex = 0x100;
inline constexpr std::uint32_t kRexNoHighByte = 0x200;
inline constexpr std::uint32_t kRexEvex = 0x400;
inline constexpr std::uint32_t kRexRex2 = 0x800;
inline constexpr std::uint32_t kRexB4 = 0x1000;
inline constexpr std::uint32_t kRexX4 = 0x2000;
inline constexpr std::uint32_t kRexR4 = 0x4000;
inline constexpr std::uint32_t kRexFifthBits = 0x7000;
inline constexpr std::uint32_t kRexSize64NoW = 0x8000;
inline constexpr std::uint32_t kRexVectorB4 = 0x10000;
inline constexpr std::uint32_t kRexVectorX4 = 0x20000;
inline constexpr std::uint32_t kRexVectorR4 = 0x40000;
inline constexpr std::uint32_t kRexVectorFifth = 0x70000;

// Option flag bits.
inline constexpr std::uint8_t kOptionNoJcc8 = 0x1;  // refuse templates of jump class 0370
inline constexpr std::uint8_t kOptionNoJmp8 = 0x2;  // refuse templates of jump class 0371
inline constexpr std::uint8_t kOptionNoOptimize = 0x4;
inline constexpr std::uint8_t kOptionKeepSizePrefix = 0x20;

// EA types.
inline constexpr std::uint8_t kEaScalar = 0;
inline constexpr std::uint8_t kEaInvalid = 4;

struct X86EffectiveAddress {
  std::uint8_t type = kEaScalar;  // 1-3 xmm, ymm, zmm VSIB
  std::uint8_t size = 0;          // ModRM + SIB + displacement bytes
  std::uint8_t displacement_bytes = 0;
  bool sib_present = false;
  bool rip_relative = false;
  std::uint8_t modrm = 0;
  std::uint8_t sib = 0;
  std::uint8_t compressed_displacement = 0;
  std::uint8_t disp8_shift = 0;
  bool disp8_fits = false;
};

// Per slot: 0 no demand, -1 the slot must emit no byte, else the byte.
using ForcedPrefixBytes = std::array<std::int16_t, kPrefixSlotCount>;

// Asks for an instruction record whose operand slots are left unset: the
// encoder fills each slot as it parses the operand and reads none past the
// count, so clearing all five per instruction would be wasted work.
struct LeaveOperandsUnset {};

struct OperandSlots {
  union {
    std::array<X86Operand, kMaxOperands> items;
  };

  OperandSlots() noexcept : items{} {}
  explicit OperandSlots(LeaveOperandsUnset) noexcept {}

  X86Operand& operator[](std::size_t index) noexcept { return items[index]; }
  const X86Operand& operator[](std::size_t index) const noexcept { return items[index]; }
};

struct X86Instruction {
  X86Instruction() = default;
  explicit X86Instruction(LeaveOperandsUnset unset) noexcept : operands(unset) {}

  std::int64_t offset = 0;
  std::int32_t segment = kNone;
  OperandSlots operands;
  std::uint32_t template_index = 0;
  bool template_present = false;
  // The chosen template's program when a remembered match supplied a copy,
  // which sits beside the remembered key and so is in cache where the pool's
  // bytes and the template row often are not; empty to read the pool.
  std::span<const std::uint8_t> remembered_program;
  std::array<std::uint32_t, kPrefixSlotCount> prefixes{};  // 0 = empty
  ForcedPrefixBytes forced{};
  // The legacy prefix bytes sizing settled, in slot order and without those
  // a VEX or EVEX prefix carries; code generation emits them as they are.
  std::array<std::uint8_t, kPrefixSlotCount> legacy_bytes{};
  std::uint8_t legacy_count = 0;
  std::uint32_t template_position = ~0u;
  std::uint8_t option_flags = 0;
  std::uint32_t rex = 0;
  std::uint32_t evex = 0;  // 62h, P0, P1, P2, little-endian
  std::uint32_t ea_rex = 0;
  X86EffectiveAddress ea{};
  std::uint32_t rounding = 0;
  std::uint16_t opcode = 0;
  std::uint8_t map = 0;
  std::uint8_t vex_params = 0;  // bit 7 W, bit 2 L, bits 1-0 pp
  bool rex_emitted = false;
  std::uint8_t tuple = 0;
  std::uint8_t broadcast_operand = 0;
  bool broadcast_present = false;
  std::int32_t v_immediate = 0;
  bool vector_length_override = false;
  std::uint8_t v_register = 0;
  std::uint8_t operand_count = 0;
  bool default_rel = false;
  bool rel_written = false;  // some operand was written with 'rel'
  bool keep_rip = false;
  bool keep_bnd = false;
  std::uint8_t address_bits = 32;
  std::uint8_t operand_bits = 32;
  std::uint8_t mode_bits = 32;

  std::uint32_t& prefix(PrefixSlot slot) noexcept { return prefixes[static_cast<std::size_t>(slot)]; }
  std::uint32_t prefix(PrefixSlot slot) const noexcept { return prefixes[static_cast<std::size_t>(slot)]; }
};

}  // namespace x86_encoder::api
