#pragma once
// One operand text to one X86Operand: decorators, qualifier words, segment
// overrides, registers, register sets, immediates and memory operands, tried
// in that order.

#include <string_view>

#include "common/error.hpp"
#include "x86_encoder/operand_scan.hpp"
#include "x86_encoder/instruction.hpp"
#include "x86_encoder/operand.hpp"

namespace x86_encoder::api {

// Letters, digits and the signs that names and literals use. Such a word
// holds no decorator, qualifier word, bracket, colon, segment override or
// register set, so it is a register or an immediate and skips those tests.
inline bool isPlainOperandWord(std::string_view text) noexcept {
  static constexpr ByteSet kPlainWordBytes{"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.$-~"};
  if (text.empty()) return false;
  for (const char c : text)
    if (!kPlainWordBytes.contains(c)) return false;
  return true;
}

// A word that isPlainOperandWord refuses but that fillPlainOperandWord still
// reads as fillOperandText would: one whole character constant, whose quotes
// hide whatever it holds, or a plain word in parentheses. Kept out of line:
// inlined into the operand loop it made the encoder's caller leave the
// template match out of line, +30 instructions on every plain x86 line
// (callgrind).
[[gnu::noinline]] bool readsAsPlainWord(std::string_view word) noexcept;

// A word isPlainOperandWord or readsAsPlainWord accepts, already trimmed, as fillOperandText
// would read it: a register, else an immediate.
qovrin::Status fillPlainOperandWord(std::string_view word, const X86ExpressionResolver& resolver,
                                    X86Operand& operand);

// Parses one operand into the given record (which it resets first), so that
// the instruction's own operand slot can be filled without a copy. A segment
// override or address-size word inside the operand is recorded in the
// instruction's prefix slots; a conflict with a word already there is
// UnsupportedPrefixes. On failure the slots are left as they were and the
// record is empty.
qovrin::Status parseOperandText(X86Instruction& context, std::string_view text, const X86ExpressionResolver& resolver,
                                X86Operand& operand);

// The same without the reset and the restore, for a caller whose record is
// still empty and who drops the whole instruction when an operand fails.
qovrin::Status fillOperandText(X86Instruction& context, std::string_view text, const X86ExpressionResolver& resolver,
                               X86Operand& operand);

// The same, returning the record.
qovrin::Result<X86Operand> parseOperandText(X86Instruction& context, std::string_view text,
                                            const X86ExpressionResolver& resolver);

}  // namespace x86_encoder::api
