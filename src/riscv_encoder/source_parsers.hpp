#pragma once
// Readers of the operand spellings that are not plain registers: integer
// literals and expressions, CSR names, rounding modes, fence sets, vector
// types and Zcmp register lists. All are case-insensitive.

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/error.hpp"
#include "riscv_encoder/operand.hpp"

namespace riscv_encoder::source {

// An integer literal: optional sign, decimal or 0x / 0o / 0b digits with "_"
// between digits. Values of 2^63 .. 2^64 - 1 keep their bits (they read as
// negative). Absent when the text is no literal; ImmediateOutOfRange when a
// literal needs more than 64 bits.
qovrin::Result<std::optional<std::uint64_t>> parseIntegerLiteral(std::string_view text) noexcept;

// A literal, else the hook's value (pending when the hook says so); InvalidOperand
// when neither gives one.
qovrin::Result<RiscvOperand> parseImmediate(std::string_view text, const RiscvExpressionHook& hook);

qovrin::Result<std::uint32_t> parseCsrName(std::string_view text) noexcept;
qovrin::Result<std::uint32_t> parseRoundingMode(std::string_view text) noexcept;
qovrin::Result<std::uint32_t> parseFenceMask(std::string_view text) noexcept;

// "e32, m1, ta, ma" -> vtype bits; UnsupportedOperandSyntax when the text does
// not begin with "e", InvalidOperand for a malformed type.
qovrin::Result<std::uint32_t> parseVType(std::string_view text) noexcept;
qovrin::Result<std::uint32_t> parseVTypeParts(std::string_view element_width, std::string_view multiplier,
                                              std::string_view tail, std::string_view mask) noexcept;

// "{ra, s0-s11}" -> rlist; UnsupportedOperandSyntax for text outside braces.
qovrin::Result<std::uint32_t> parseRegisterList(std::string_view text) noexcept;

}  // namespace riscv_encoder::source
