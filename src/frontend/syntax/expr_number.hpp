#pragma once
// Number literals of the expression language: where a token ends and what it
// denotes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/expr.hpp"

namespace frontend::expr {

// End of the number token that starts with the digit at `start`.
std::size_t numberTokenEnd(std::string_view text, std::size_t start) noexcept;

// The integer or float literal node a number token denotes.
qovrin::Result<Node> readNumberToken(std::string_view token);

// The first number token of a text, outside quotes, that reads as no number:
// one too large for 64 bits or one malformed.
std::optional<std::string_view> unreadableNumberToken(std::string_view text);

// Why a token that reads as no number does not: no digits after its radix
// prefix or its exponent, a character that is no digit of its radix, or a
// value past 64 bits (past an f64's range for a float).
std::string unreadableNumberCause(std::string_view token);

// "'0xg' does not read as a number: 'g' is no hex digit" for the first
// unreadable number token of a text.
std::optional<std::string> unreadableNumberNote(std::string_view text);

}  // namespace frontend::expr
