#pragma once
// Memory operands: the address inside the brackets, with its base, index,
// scale and displacement, and the modifier words written before it.

#include <cstdint>
#include <string_view>

#include "common/error.hpp"
#include "x86_encoder/instruction.hpp"
#include "x86_encoder/operand.hpp"

namespace x86_encoder::api {

// The factor n of "reg*n": a literal 1, 2, 4 or 8.
qovrin::Result<std::int32_t> parseMemoryScale(std::string_view text) noexcept;

// The address inside the brackets (without modifier words). The non-register
// terms are resolved together as one expression, so a symbolic displacement
// reaches the resolver, and any fixup it records, whole.
qovrin::Result<X86Operand> parseMemoryOperand(std::string_view text, const X86ExpressionResolver& resolver);

// The inside of the brackets: leading modifier words ("nosplit", "abs",
// "rel", "a16"/"a32"/"a64", displacement sizes), then the address. An
// address-size word is recorded in the instruction's address-size slot.
qovrin::Result<X86Operand> parseEffectiveAddressMemoryOperand(X86Instruction& context, std::string_view text,
                                                              const X86ExpressionResolver& resolver);

// The two above, written into an empty operand (the per-operand path fills
// the caller's record in place).
qovrin::Status fillMemoryOperand(std::string_view text, const X86ExpressionResolver& resolver, X86Operand& operand);
qovrin::Status fillEffectiveAddressOperand(X86Instruction& context, std::string_view text,
                                           const X86ExpressionResolver& resolver, X86Operand& operand);

// The addresses most code writes, read in one pass: registers, "reg*n" and
// plain numbers joined by '+' and '-', with no modifier word, symbol or
// nested sign. Writes the same record the general reading would and returns
// true; returns false, with the record untouched, for any other text.
bool fillFlatAddress(std::string_view text, X86Operand& operand) noexcept;

}  // namespace x86_encoder::api
