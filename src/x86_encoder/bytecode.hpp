#pragma once
// Reading a template's byte-code program: the cursor over its bytes and the
// operand numbers a code names.

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/error.hpp"

namespace x86_encoder::bytecode {

struct BytecodeCursor {
  std::span<const std::uint8_t> program;
  std::size_t position = 0;

  bool atEnd() const noexcept { return position >= program.size(); }

  qovrin::Result<std::uint8_t> consumeRequiredByte() noexcept {
    if (atEnd()) return qovrin::fail(qovrin::Error::MissingPayload);
    return program[position++];
  }
};

// 05 adds 4 to the primary operand of the next code, 06 to the secondary,
// 07 to both.
struct OperandBump {
  std::uint8_t code = 0;

  unsigned primary(std::uint8_t c) const noexcept { return (c & 3u) + ((code & 1u) ? 4u : 0u); }
  unsigned secondary(std::uint8_t c) const noexcept { return ((c >> 3) & 3u) + ((code & 2u) ? 4u : 0u); }
};

// Payload bytes that follow a code.
constexpr std::size_t payloadLength(std::uint8_t code) noexcept {
  if (code >= 01 && code <= 04) return code;
  if ((code >= 010 && code <= 013) || (code >= 0171 && code <= 0173)) return 1;
  if ((code >= 0240 && code <= 0243) || code == 0250) return 4;
  if ((code >= 0260 && code <= 0263) || code == 0270 || (code >= 0304 && code <= 0307)) return 2;
  return 0;
}

// The first code of the program that satisfies wanted, or 0 when none does;
// payload bytes are skipped, so they are never taken for codes.
template <typename Predicate>
constexpr std::uint8_t findCode(std::span<const std::uint8_t> program, Predicate wanted) noexcept {
  for (std::size_t position = 0; position < program.size(); position += 1 + payloadLength(program[position])) {
    const std::uint8_t code = program[position];
    if (code == 0) return 0;
    if (wanted(code)) return code;
  }
  return 0;
}

}  // namespace x86_encoder::bytecode
