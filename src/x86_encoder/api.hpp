#pragma once
// The one entry of the x86 encoder: one instruction's mnemonic and operand
// texts in, its units and warnings out. Nothing is kept between calls but the
// template searches a caller's match memo remembers.

#include <cstdint>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "x86_encoder/encode_result.hpp"
#include "x86_encoder/operand.hpp"

namespace x86_encoder::match {
struct MatchMemo;
}  // namespace x86_encoder::match

namespace x86_encoder::evex_checks {
struct Refusal;
}  // namespace x86_encoder::evex_checks

namespace x86_encoder::api {

struct X86EncodeOptions {
  std::int64_t offset = 0;  // where the instruction starts; relative fields are measured from it
  // With jump_form_a and jump_form_b set and bit 0 of the byte clear, a
  // one-operand relaxable jump is given the near form.
  const std::uint8_t* near_jump_guard = nullptr;
  std::uint32_t segment_override = ~0u;  // register id of a segment register
  std::uint8_t bits = 64;
  std::uint8_t lock = 0;
  std::uint8_t rep = 0;           // 0 none, rep, repe, repne, xacquire, xrelease, bnd, nobnd
  std::uint8_t operand_size = 0;  // 0 none, osp, o16, o32, o64
  std::uint8_t address_size = 0;  // 0 none, a16, a32, a64
  std::uint8_t encoding = 0;      // 0 none, rex, rex2, evex, vex, vex2, vex3
  std::uint8_t marker_370 = 0;
  std::uint8_t marker_371 = 0;
  std::uint8_t default_rel = 0;
  std::uint8_t encoding_nibble = 0;
  std::uint8_t jump_form_a = 0;
  std::uint8_t jump_form_b = 0;
  // Searches remembered across the caller's instructions; none when null.
  match::MatchMemo* match_memo = nullptr;
  // Receives why a line whose form matched was refused all the same, when
  // not null.
  evex_checks::Refusal* refusal = nullptr;
};

// Standalone prefix words (an instruction line that is only "lock", "rep",
// "o16", "cs", ...) give a one-byte result or, where the mode needs no byte,
// an empty one. On failure the result is left empty.
qovrin::Status encodeBuiltinUnitsWithResolver(encode::OwnedEncodeResult& result, std::string_view mnemonic,
                                              std::span<const std::string_view> operands,
                                              const X86EncodeOptions& options, const X86ExpressionResolver& resolver);

}  // namespace x86_encoder::api
