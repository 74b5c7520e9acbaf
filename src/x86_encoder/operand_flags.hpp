#pragma once
// Bits of the operand-class word that operands, registers and instruction
// templates share. A template accepts an operand when the operand carries
// every bit the template asks for, so the parsers must set exactly the bits
// that describe what was written.

#include <cstdint>

namespace x86_encoder::api {

inline constexpr std::uint64_t operandBit(unsigned n) noexcept { return std::uint64_t{1} << n; }

// Operand class.
inline constexpr std::uint64_t kClassRegister = operandBit(0);
inline constexpr std::uint64_t kClassImmediate = operandBit(1);
inline constexpr std::uint64_t kClassRegisterOrMemory = operandBit(2);
inline constexpr std::uint64_t kClassMemory = operandBit(3);
// First half of a far pointer or of a register pair ("seg:off", "dx:ax").
inline constexpr std::uint64_t kColon = operandBit(5);
inline constexpr std::uint64_t kStrict = operandBit(6);

// Register classes.
inline constexpr std::uint64_t kGeneralPurposeClass = operandBit(8);
inline constexpr std::uint64_t kSegmentClass = operandBit(9);
inline constexpr std::uint64_t kXmmClass = operandBit(12);
inline constexpr std::uint64_t kYmmClass = operandBit(13);
inline constexpr std::uint64_t kZmmClass = operandBit(14);
inline constexpr std::uint64_t kOpmaskClass = operandBit(15);
// What a register must carry to serve as a base register.
inline constexpr std::uint64_t kGeneralPurposeRegister = kClassRegister | kClassRegisterOrMemory | kGeneralPurposeClass;

// Immediate subclasses.
inline constexpr std::uint64_t kImmediateSubclass = operandBit(18);
inline constexpr std::uint64_t kImmediateIsOne = operandBit(19);
inline constexpr std::uint64_t kImmediateWordFitsSignedByte = operandBit(20);
inline constexpr std::uint64_t kImmediateDwordFitsSignedByte = operandBit(21);
inline constexpr std::uint64_t kImmediateFitsSigned32 = operandBit(22);
inline constexpr std::uint64_t kImmediateFitsUnsigned32 = operandBit(23);
inline constexpr std::uint64_t kImmediateSmall = operandBit(24);  // -16 .. 15
// Set for literals and forward references, clear for a known value that is
// not an absolute number (such a value cannot be sized by its digits).
inline constexpr std::uint64_t kImmediateSizable = operandBit(25);

// Memory subclass: an address given as a plain offset.
inline constexpr std::uint64_t kMemoryDirectOffset = operandBit(18);

inline constexpr std::uint64_t kRegisterNumberBelow16 = operandBit(28);
inline constexpr std::uint64_t kWideGeneralPurpose = operandBit(31);

// Sizes and jump qualifiers.
inline constexpr std::uint64_t kSizeByte = operandBit(32);
inline constexpr std::uint64_t kSizeWord = operandBit(33);
inline constexpr std::uint64_t kSizeDword = operandBit(34);
inline constexpr std::uint64_t kSizeQword = operandBit(35);
inline constexpr std::uint64_t kFar = operandBit(40);
inline constexpr std::uint64_t kNear = operandBit(41);
inline constexpr std::uint64_t kShort = operandBit(42);
inline constexpr std::uint64_t kAbs = operandBit(43);
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
inline constexpr std::uint64_t kMemoryXmmIndex = kClassRegisterOrMemory | kClassMemory | operandBit(20);
inline constexpr std::uint64_t kMemoryYmmIndex = kClassRegisterOrMemory | kClassMemory | operandBit(21);
inline constexpr std::uint64_t kMemoryZmmIndex = kClassRegisterOrMemory | kClassMemory | operandBit(22);
// Given to a memory operand written without a size (or only as "word"), so
// that register-or-memory templates of 16 bits and more still accept it.
inline constexpr std::uint64_t kMemoryUnsized = kWideGeneralPurpose | kClassRegisterOrMemory;

static_assert(kImmediateLiteral == 0x2040002);
static_assert(kImmediateOneLiteral == 0x30C0002);
static_assert(kImmediateSmallLiteral == 0x3040002);
static_assert(kMemoryAbsolute == 0x7005F90E);

}  // namespace x86_encoder::api
