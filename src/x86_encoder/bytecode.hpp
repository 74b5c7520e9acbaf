#pragma once
// Reading a template's byte-code program: what each code is (its payload,
// the bytes it contributes and what sizing and generation do with it) and the
// operand numbers a code names.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace x86_encoder::bytecode {

// 05 adds 4 to the primary operand of the next code, 06 to the secondary,
// 07 to both.
struct OperandBump {
  std::uint8_t code = 0;

  unsigned primary(std::uint8_t c) const noexcept { return (c & 3u) + ((code & 1u) ? 4u : 0u); }
  unsigned secondary(std::uint8_t c) const noexcept { return ((c >> 3) & 3u) + ((code & 2u) ? 4u : 0u); }
};

// What sizing does with a code once its payload is taken and its fixed size
// counted: nothing more, or the decision named.
enum class Sizing : std::uint8_t {
  unsupported,
  finish,
  bump,
  counted,            // the fixed size is all
  operand,            // names an operand that must exist
  base_rex,           // +r: REX bits of the operand's register
  mib_index,          // the operand's base is the index of a later MIB address
  word_or_dword,      // 2 or 4 bytes by the operand and operand size
  address_width,      // as wide as the address
  effective_address,  // ModRM, SIB and displacement
  reg_field_rex,      // /mrb: REX bits of the operand in the payload's reg field
  vex,
  evex,
  setting,  // a prefix, size, map or REX decision without bytes of its own
};

// What code generation does with a code.
enum class Emission : std::uint8_t {
  unsupported,
  finish,
  literal,
  bump,
  plus_register,
  immediate,
  address,
  nothing,
  own,  // a case of its own in the generator
};

// One description of a code, read by sizing and by generation alike, so that
// the two cannot disagree on how many payload bytes follow a code or on the
// bytes it always contributes. Codes whose length depends on the operands
// (word_or_dword, address_width, effective_address, the reserve code) count
// the rest themselves.
struct CodeDescriptor {
  std::uint8_t payload = 0;
  std::uint8_t size = 0;
  Sizing sizing = Sizing::unsupported;
  Emission emission = Emission::unsupported;
};

namespace detail {

constexpr CodeDescriptor describe(unsigned c) noexcept {
  const auto in = [c](unsigned first, unsigned last) { return c >= first && c <= last; };
  if (c == 0) return {0, 0, Sizing::finish, Emission::finish};
  if (c <= 04) return {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c), Sizing::counted, Emission::literal};
  if (c <= 07) return {0, 0, Sizing::bump, Emission::bump};
  if (c < 0100) {
    switch (c & ~3u) {
      case 010:
        return {1, 1, Sizing::base_rex, Emission::plus_register};
      case 014:
        return {0, 0, Sizing::mib_index, Emission::nothing};
      case 020:
      case 024:
      case 050:
        return {0, 1, Sizing::operand, Emission::immediate};
      case 030:
      case 060:
      case 074:
        return {0, 2, Sizing::operand, Emission::immediate};
      case 034:
      case 064:
        return {0, 0, Sizing::word_or_dword, Emission::immediate};
      case 040:
      case 070:
        return {0, 4, Sizing::operand, Emission::immediate};
      case 044:
        return {0, 0, Sizing::address_width, Emission::immediate};
      case 054:
        return {0, 8, Sizing::operand, Emission::immediate};
      default:
        return {};
    }
  }
  if (c < 0140 || in(0200, 0237)) return {0, 0, Sizing::effective_address, Emission::address};
  if (c == 0171) return {1, 1, Sizing::reg_field_rex, Emission::own};
  if (in(0172, 0173)) return {1, 1, Sizing::counted, Emission::own};
  if (in(0174, 0177)) return {0, 1, Sizing::operand, Emission::own};
  if (in(0240, 0243) || c == 0250) return {4, 0, Sizing::evex, Emission::own};
  if (in(0254, 0257) || in(0264, 0267)) return {0, 4, Sizing::operand, Emission::immediate};
  if (in(0260, 0263) || c == 0270) return {2, 0, Sizing::vex, Emission::own};
  if (in(0271, 0273)) return {0, 0, Sizing::setting, Emission::nothing};
  if (in(0274, 0303)) return {0, 1, Sizing::operand, Emission::own};
  if (in(0304, 0307)) return {2, 1, Sizing::operand, Emission::own};
  if (in(0310, 0337) || in(0341, 0342) || in(0344, 0351) || in(0355, 0361) || in(0364, 0371) || in(0374, 0376))
    return {0, 0, Sizing::setting, Emission::nothing};
  if (c == 0340) return {0, 0, Sizing::setting, Emission::own};
  if (c == 0373) return {0, 1, Sizing::counted, Emission::own};
  return {};
}

}  // namespace detail

inline constexpr std::array<CodeDescriptor, 256> kCodeDescriptors = [] {
  std::array<CodeDescriptor, 256> descriptors{};
  for (unsigned c = 0; c < descriptors.size(); ++c) descriptors[c] = detail::describe(c);
  return descriptors;
}();

constexpr const CodeDescriptor& describeCode(std::uint8_t code) noexcept { return kCodeDescriptors[code]; }

// Payload bytes that follow a code.
constexpr std::size_t payloadLength(std::uint8_t code) noexcept { return describeCode(code).payload; }

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
