#pragma once
// Which part of a line the encoder refused, for a message that says more
// than the error code: the caller passes one in and reads it after a failure.

#include <array>
#include <cstdint>
#include <string_view>

#include "riscv_encoder/operand.hpp"

namespace riscv_encoder {

// The registers a field takes, for a register the row refused.
enum class RegisterRule : std::uint8_t {
  compressed = 0,   // x8-x15 only
  not_zero = 1,     // any but x0
  not_zero_sp = 2,  // any but x0 and x2
  even = 3,         // the first of a pair
};

// The values a compressed immediate or offset takes.
struct ImmediateRule {
  std::int64_t minimum = 0;
  std::int64_t maximum = 0;
  std::int64_t alignment = 1;
  bool non_zero = false;
};

struct RiscvFailure {
  enum class Part : std::uint8_t {
    unknown = 0,          // nothing more than the error is known
    mnemonic = 1,         // no row has this mnemonic
    operand_count = 2,    // the row takes `operands` operands as written
    immediate_range = 3,  // `value` does not fit the `bits`-wide immediate
    alignment = 4,        // `value` is not a multiple of `rule.alignment`
    immediate_rule = 5,   // `value` breaks `rule`
    register_rule = 6,    // register `value` at `position` breaks `register_rule`
    operand_kind = 7,     // operand `position` is a register where the row takes a value, or the reverse
    other_xlen = 8,       // the mnemonic has rows for the other XLEN only
    ordering_suffix = 9,  // the row has no aq / rl bits for the suffix
    unreadable = 10,      // the text of operand `position` is no operand this row reads
    after_mask = 11,      // operand `position` follows the vector mask, which ends the line
    vector_type = 12,     // the vector type, operand `position`, is not its four words
  };
  Part part = Part::unknown;
  std::uint8_t operands = 0;
  // The operands' field names in the order they are written; all empty when
  // they cannot be told.
  std::array<std::string_view, kMaxOperands> names{};
  // The text each operand was read from; the two operands of "offset(reg)"
  // share theirs.
  std::array<std::string_view, kMaxOperands> written{};
  std::int64_t value = 0;
  std::uint8_t bits = 0;
  bool is_signed = false;
  std::uint8_t position = 0;  // of the operand, from 1
  bool wants_register = false;
  bool at_mask = false;  // for unreadable: the operand stands where a vector mask goes
  bool vector_offset = false;  // for unreadable: an offset stands before a vector address, which takes none
  RegisterRule register_rule = RegisterRule::compressed;
  ImmediateRule rule;
  std::string_view subject;  // "offset" for an offset, else empty
  // Facts that explain a wrong operand count better than the count: an
  // address whose base is no register or whose bracket is not closed, and
  // sp written where the row implies it.
  std::string_view unknown_base;
  std::string_view unclosed;
  bool implicit_sp = false;
  bool rv32_form = false;  // for other_xlen: the mnemonic has a ".rv32" row
};

}  // namespace riscv_encoder
