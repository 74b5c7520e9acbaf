#pragma once
// Parsed operands of one instruction line and the callback through which the
// encoder asks its caller for the value of operand text it cannot read.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/error.hpp"

namespace riscv_encoder {

// Blanks trimmed around every mnemonic and operand piece.
inline constexpr std::string_view kBlanks = " \t\r\n";

inline constexpr std::uint8_t kOperandImmediate = 1;  // any value that is not a register number
// The value is the caller's stand-in for a symbol that is not resolved yet;
// checks that a stand-in cannot pass wait for the real value.
inline constexpr std::uint8_t kOperandPending = 2;

// Made by registerOperand and immediateOperand; a list leaves the records
// it has not filled unwritten.
struct RiscvOperand {
  std::uint64_t value;
  std::uint8_t flags;

  constexpr bool isImmediate() const noexcept { return (flags & kOperandImmediate) != 0; }
  constexpr bool isPending() const noexcept { return (flags & kOperandPending) != 0; }
};

inline constexpr std::size_t kMaxOperands = 16;

struct RiscvOperandList {
  // Only the first `count` are ever read: a line reads a few operands, and
  // clearing all sixteen first cost it as much as reading one.
  std::array<RiscvOperand, kMaxOperands> items;
  std::size_t count = 0;

  qovrin::Status push(RiscvOperand operand) noexcept {
    if (count == kMaxOperands) return qovrin::fail(qovrin::Error::TooManyOperands);
    items[count++] = operand;
    return {};
  }
  qovrin::Status insert(std::size_t position, RiscvOperand operand) noexcept {
    if (count == kMaxOperands) return qovrin::fail(qovrin::Error::TooManyOperands);
    for (std::size_t index = count; index > position; --index) items[index] = items[index - 1];
    items[position] = operand;
    ++count;
    return {};
  }
};

constexpr RiscvOperand registerOperand(std::uint8_t number) noexcept { return {number, 0}; }
constexpr RiscvOperand immediateOperand(std::uint64_t value) noexcept { return {value, kOperandImmediate}; }

struct RiscvResolvedExpression {
  std::optional<std::int64_t> value;  // absent: the text names nothing the caller knows
  bool pending = false;               // the value stands in for a symbol resolved later
};

struct RiscvExpressionHook {
  void* context = nullptr;
  qovrin::Result<RiscvResolvedExpression> (*resolve)(void* context, std::string_view text) = nullptr;
  bool enabled = false;
};

}  // namespace riscv_encoder
