#pragma once
// Integer literals as x86 operands write them: decimal, 0x-prefixed or
// h-suffixed hexadecimal, character constants and complements.

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/error.hpp"

namespace x86_encoder::api {

// The literal's value, or nothing when the text is no literal (so that names
// such as "ah" or "abh" stay names). Text that looks like a literal but is
// malformed fails with InvalidIntegerLiteral.
qovrin::Result<std::optional<std::int64_t>> parseIntLiteralForEncode(std::string_view text) noexcept;

// The same reading for the per-operand path: true with the value stored,
// false when the text is no literal. The answer fits in a register, where
// the optional value above makes every caller go through memory.
qovrin::Result<bool> readIntLiteral(std::string_view text, std::int64_t& value) noexcept;

// Text that readIntLiteral reads whole as a character constant: the same
// quote at both ends, and every quote of that kind inside doubled.
bool isCharacterConstant(std::string_view text) noexcept;

// Reads a signed number in base 10 or 16 (a 0x prefix and an h suffix are
// allowed in base 16, underscores anywhere). Positive values up to 2^64-1 are
// taken as their 64-bit pattern; negative ones go down to -2^63; anything
// beyond is IntegerOverflow.
qovrin::Result<std::int64_t> parseClassifiedInt(std::string_view text, unsigned base) noexcept;

}  // namespace x86_encoder::api
