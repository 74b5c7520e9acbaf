#pragma once
// Code generation: walks the chosen template's byte-code program a second
// time and appends the instruction's units to the result, carrying out what
// sizing decided. Operands whose value is not final become placeholders;
// values that do not fit their field become warnings.

#include <cstdint>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "x86_encoder/encode_result.hpp"
#include "x86_encoder/instruction.hpp"

namespace x86_encoder::encode {

// Fills result from the sized instruction; on failure the result is left
// empty.
qovrin::Status gencode(OwnedEncodeResult& result, api::X86Instruction& instruction, std::int64_t instruction_size);

// Appends a warning when value does not fit width bytes under the check
// mode; size_name picks the text ("byte" ... "qword", else "value").
void warnOverflowOut(OwnedEncodeResult& result, std::int64_t value, unsigned width, std::uint8_t check,
                     std::string_view size_name) noexcept;

// The low n bytes (n at most 8) of value, little-endian.
void emitValueBytes(std::span<std::uint8_t> buffer, std::int64_t value, unsigned n) noexcept;

}  // namespace x86_encoder::encode
