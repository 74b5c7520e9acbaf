#pragma once
// Operand texts that stand for two operands: a far pointer "seg:offset" of a
// jump or call, and a register pair such as "dx:ax". The instruction entry
// tries these before the ordinary parse.

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/error.hpp"
#include "x86_encoder/operand.hpp"

namespace x86_encoder::api {

struct FarPointerText {
  std::uint64_t qualifier_flags = 0;  // qualifiers written before the pointer
  std::uint32_t ea_flags = 0;
  std::string_view segment;
  std::string_view offset;
};

// "seg:offset" without decorators, split at its only top-level ':', when
// neither half is bracketed or a register name: so "cs:[bx]" and "es:di" stay
// segment overrides.
std::optional<FarPointerText> splitFarPointer(std::string_view text) noexcept;

struct OperandPair {
  X86Operand first;  // carries the colon bit
  X86Operand second;
};

// The two immediates of a far pointer, or nothing when the text is no far
// pointer or a half is no immediate.
qovrin::Result<std::optional<OperandPair>> parseFarPointerOperands(std::string_view text,
                                                                   const X86ExpressionResolver& resolver);

// "reg:reg" with two registers of which neither is a segment register.
std::optional<OperandPair> parseRegisterPair(std::string_view text) noexcept;

}  // namespace x86_encoder::api
