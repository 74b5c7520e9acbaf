#pragma once
// Bits of the operand-class word that operands, registers and instruction
// templates share. A template accepts an operand when the operand carries
// every bit the template asks for, so the parsers must set exactly the bits
// that describe what was written.

#include <cstdint>

namespace x86_encoder::api {

inline constexpr std::uint64_t bit(unsigned n) noexcept { return std::uint64_t{1} << n; }

// Operand class.
inline constexpr std::uint64_t kClassRegister = bit(0);
inline constexpr std::uint64_t kClassImmediate = bit(1);
inline constexpr std::uint64_t kClassRegisterOrMemory = bit(2);
inline constexpr std::uint64_t kClassMemory = bit(3);
// First half of a far pointer or of a register pair ("seg:off", "dx:ax").
inline constexpr std::uint64_t kColon = bit(5);
inline constexpr std::uint64_t kStrict = bit(6);

// Register classes.
inline constexpr std::uint64_t kGeneralPurposeClass = bit(8);
inline constexpr std::uint64_t kSegmentClass = bit(9);
inline constexpr std::uint64_t kXmmClass = bit(12);
inline constexpr std::uint64_t kYmmClass = bit(13);
inline constexpr std::uint64_t kZmmClass = bit(14);
inline constexpr std::uint64_t kOpmaskClass = bit(15);
// What a register must carry to serve as a base register.
inline constexpr std::uint64_t kGeneralPurposeRegister = kClassRegister | kClassRegisterOrMemory | kGeneralPurposeClass;

// Immediate subclasses.
inline constexpr std::uint64_t kImmediateSubclass = bit(18);
inline constexpr std::uint64_t kImmediateIsOne = bit(19);
inline constexpr std::uint64_t kImmediateWordFitsSignedByte = bit(20);
inline constexpr std::uint64_t kImmediateDwordFitsSignedByte = bit(21);
inline constexpr std::uint64_t kImmediateFitsSigned32 = bit(22);
inline constexpr std::uint64_t kImmediateFitsUnsigned32 = bit(23);
inline constexpr std::uint64_t kImmediateSmall = bit(24);  // -16 .. 15
// Set for literals and forward references, clear for a known value that is
// not an absolute number (such a value cannot be sized by its digits).
inline constexpr std::uint64_t kImmediateSizable = bit(25);

// Memory subclass: an address given as a plain offset.
inline constexpr std::uint64_t kMemoryDirectOffset = bit(18);

inline constexpr std::uint64_t kRegisterNumberBelow16 = bit(28);
inline constexpr std::uint64_t kWideGeneralPurpose = bit(31);

// Sizes and jump qualifiers.
inline constexpr std::uint64_t kSizeByte = bit(32);
inline constexpr std::uint64_t kSizeWord = bit(33);
inline constexpr std::uint64_t kSizeDword = bit(34);
inline constexpr std::uint64_t kSizeQword = bit(35);
inline constexpr std::uint64_t kFar = bit(40);
inline constexpr std::uint64_t kNear = bit(41);
inline constexpr std::uint64_t kShort = bit(42);
inline constexpr std::uint64_t kAbs = bit(43);
// Every size and jump-qualifier bit (32-47).
inline constexpr std::uint64_t kSizeMask = 0xFFFF'0000'0000;

// Register sets ("zmm0+3"): the set size 2, 4, 8 or 16 shifted by this much
// lands on bits 48-51.
inline constexpr unsigned kRegisterSetShift = 47;
inline constexpr std::uint64_t kRegisterSetSizes = 0x1E;

// Whole words that the parsers give to immediates.
inline constexpr std::uint64_t kImmediateLiteral = kClassImmediate | kImmediateSubclass | kImmediateSizable;
inline constexpr std::uint64_t kImmediateKnownSymbolic = kClassImmediate | kImmediateSubclass;
inline constexpr std::uint64_t kImmediateSmallLiteral = kImmediateLiteral | kImmediateSmall;
inline constexpr std::uint64_t kImmediateOneLiteral = kImmediateSmallLiteral | kImmediateIsOne;

// Whole words that the parsers give to memory operands: an address built
// from registers, and an absolute address (which also matches the plain
// offset forms such as "mov al, [moffs]").
inline constexpr std::uint64_t kMemoryWithRegisters = 0x6001'F90C;
inline constexpr std::uint64_t kMemoryAbsolute =
    kMemoryWithRegisters | kRegisterNumberBelow16 | kMemoryDirectOffset | kClassImmediate;
inline constexpr std::uint64_t kMemoryXmmIndex = kClassRegisterOrMemory | kClassMemory | bit(20);
inline constexpr std::uint64_t kMemoryYmmIndex = kClassRegisterOrMemory | kClassMemory | bit(21);
inline constexpr std::uint64_t kMemoryZmmIndex = kClassRegisterOrMemory | kClassMemory | bit(22);
// Given to a memory operand written without a size (or only as "word"), so
// that register-or-memory templates of 16 bits and more still accept it.
inline constexpr std::uint64_t kMemoryUnsized = kWideGeneralPurpose | kClassRegisterOrMemory;

static_assert(kImmediateLiteral == 0x2040002);
static_assert(kImmediateOneLiteral == 0x30C0002);
static_assert(kImmediateSmallLiteral == 0x3040002);
static_assert(kMemoryAbsolute == 0x7005F90E);

}  // namespace x86_encoder::api
