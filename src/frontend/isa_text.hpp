#pragma once
// An x86 instruction line split the way the x86 encoder takes it: the
// mnemonic, the top-level comma-separated operands, and the lock and repeat
// prefixes written as words in front of the mnemonic. The pieces borrow the
// line's text.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/error.hpp"

namespace frontend::isa_text {

// More operands than any x86 form takes, with room for a repeat word in
// front; a line with more is refused.
inline constexpr std::size_t kMaxOperands = 8;

struct ParsedInstruction {
  std::string_view first_word;  // as written, before prefix words are taken off
  std::string_view mnemonic;
  std::array<std::string_view, kMaxOperands> operand_storage{};
  std::size_t operand_count = 0;
  bool lock = false;
  std::uint8_t repeat = 0;  // 0 none, 1 rep, 2 repe/repz, 3 repne/repnz

  std::span<const std::string_view> operands() const noexcept {
    return std::span(operand_storage).first(operand_count);
  }
};

// Fills parsed, which the caller keeps so that the record is never copied.
// InvalidInstructionText for a blank line, UnsupportedOperands for a line
// with more than kMaxOperands operands.
qovrin::Status parseX86Line(std::string_view text, ParsedInstruction& parsed);

}  // namespace frontend::isa_text
