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

}  // namespace x86_encoder::bytecode
