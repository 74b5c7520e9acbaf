#pragma once
// Lines a template takes whose bytes the processor refuses (#UD) or reads
// otherwise than they are written: told apart after matching, so that the
// encoder refuses them and a note can say why.

#include <cstdint>

#include "x86_encoder/instruction.hpp"

namespace x86_encoder::evex_checks {

enum class Reason : std::uint8_t {
  none,
  zeroing_without_mask,         // {z} with no mask register, or with k0
  vector_address_without_mask,  // a gather, scatter or their prefetch without k1-k7
  destination_is_source,        // a complex half-precision multiply whose destination it also reads
  qword_integer_outside_64,     // W, which would make the integer 64-bit, is ignored there
};

struct Refusal {
  Reason reason = Reason::none;
  // For destination_is_source: the source operand that names the
  // destination's register; 0 for a short form, whose first source is the
  // destination itself.
  std::uint8_t operand = 0;
};

// The refusal for the record's chosen template and operands.
Refusal check(const api::X86Instruction& ins) noexcept;

}  // namespace x86_encoder::evex_checks
