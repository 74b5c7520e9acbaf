#pragma once
// The byte each prefix code stands for in a mode, and the answers for codes
// that have none.

#include <cstdint>

#include "common/error.hpp"

namespace x86_encoder::types {

inline constexpr std::int32_t kNoPrefixByte = -1;    // nothing to emit
inline constexpr std::int32_t kEncodingChoice = -2;  // an encoding selector, no byte of its own
inline constexpr std::int32_t kInvalidInMode = -3;   // the prefix cannot be used in this mode
inline constexpr std::int32_t kNotAPrefix = -4;

// The prefix byte (0-255) of a prefix code or segment register id in the
// given mode, or one of the negative answers above.
std::int32_t prefixByte(std::uint32_t code, std::uint8_t mode_bits) noexcept;

// The failure of a prefix that cannot be used in the mode.
qovrin::Error invalidInModeError(std::uint32_t code) noexcept;

constexpr bool isPrefixByte(std::int32_t answer) noexcept { return answer >= 0 && answer <= 0xFF; }

}  // namespace x86_encoder::types
