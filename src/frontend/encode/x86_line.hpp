#pragma once
// An x86 instruction line split the way the x86 encoder takes it: the
// mnemonic, the top-level comma-separated operands, and the lock and repeat
// prefixes written as words in front of the mnemonic. The pieces borrow the
// line's text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string_view>

#include "common/error.hpp"

namespace frontend::x86_line {

// More operands than any x86 form takes, with room for a repeat word in
// front; a line with more is refused.
inline constexpr std::size_t kMaxOperands = 8;

struct ParsedInstruction {
  std::string_view first_word;  // as written, before prefix words are taken off
  std::string_view mnemonic;
  std::size_t operand_count = 0;
  bool lock = false;
  std::uint8_t repeat = 0;  // 0 none, 1 rep, 2 repe/repz, 3 repne/repnz, 4 xacquire, 5 xrelease, 6 bnd, 7 nobnd

  std::span<const std::string_view> operands() const noexcept {
    return {std::launder(reinterpret_cast<const std::string_view*>(operand_storage)), operand_count};
  }
  std::span<std::string_view> operands() noexcept {
    return {std::launder(reinterpret_cast<std::string_view*>(operand_storage)), operand_count};
  }
  // The caller checked operand_count against kMaxOperands.
  void addOperand(std::string_view operand) noexcept {
    std::construct_at(reinterpret_cast<std::string_view*>(operand_storage) + operand_count++, operand);
  }

  // Made as operands are added: a record is filled for every instruction
  // line, and clearing room for every operand up front costs more than the
  // split itself.
  alignas(std::string_view) std::byte operand_storage[kMaxOperands * sizeof(std::string_view)];
};

// The repeat kind a prefix word stands for, numbered as in
// ParsedInstruction::repeat; 0 for any other word.
std::uint8_t repeatKind(std::string_view word) noexcept;

// Fills parsed, which the caller keeps so that the record is never copied.
// InvalidInstructionText for a blank line, UnsupportedOperands for a line
// with more than kMaxOperands operands, MissingOperand for an empty one: a
// comma with no operand before or after it.
qovrin::Status parseX86Line(std::string_view text, ParsedInstruction& parsed);

}  // namespace frontend::x86_line
