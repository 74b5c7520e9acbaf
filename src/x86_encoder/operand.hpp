#pragma once
// The parsed form of one x86 operand, and the callback through which the
// parsers ask the assembler for the value of text that is neither a register
// nor an integer literal.

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/error.hpp"

namespace x86_encoder::api {

// Register ids, segment ids and symbol ids use ~0 for "none".
inline constexpr std::int32_t kNone = -1;

enum class OperandKind : std::uint8_t {
  memory = 0,
  reg = 1,
  immediate = 2,
};

// value_flags bits.
inline constexpr std::uint32_t kValueUnknown = 1u << 2;  // forward reference
inline constexpr std::uint32_t kValueSelfRelative = 1u << 3;
inline constexpr std::uint32_t kValueKnownAbsolute = 1u << 4;

// ea_flags bits.
inline constexpr std::uint32_t kEaByteDisplacement = 1u << 0;
inline constexpr std::uint32_t kEaFullDisplacement = 1u << 1;
inline constexpr std::uint32_t kEaNoSplit = 1u << 2;
inline constexpr std::uint32_t kEaRel = 1u << 3;
inline constexpr std::uint32_t kEaAbs = 1u << 4;

// decorators bits.
inline constexpr std::uint16_t kDecoratorOpmask = 0x000F;  // opmask register number
inline constexpr std::uint16_t kDecoratorZeroing = 1u << 4;
inline constexpr std::uint16_t kDecoratorBroadcast = 1u << 5;
inline constexpr std::uint16_t kDecoratorRounding = 1u << 6;
inline constexpr std::uint16_t kDecoratorSae = 1u << 7;
inline constexpr unsigned kBroadcastCountShift = 12;  // code 0 "1to2" .. 4 "1to32"
inline constexpr std::uint16_t kBroadcastCountMask = 0x7000;

// hint_type values of a split address "[a, b]".
inline constexpr std::int32_t kHintNone = 0;
inline constexpr std::int32_t kHintMakeBase = 1;  // the first part had a base
inline constexpr std::int32_t kHintNotBase = 2;   // the first part had none

struct X86Operand {
  std::uint64_t flags = 0;  // operand-class word (operand_flags.hpp)
  std::int64_t value = 0;   // immediate value or displacement
  std::int32_t base = kNone;
  std::int32_t index = kNone;
  std::int32_t scale = 0;  // 0 without index, else 1, 2, 4 or 8
  std::int32_t hint_base = kNone;
  std::int32_t hint_type = kHintNone;
  std::int32_t segment = kNone;
  std::int32_t symbol = kNone;
  std::uint32_t value_flags = 0;
  std::uint32_t ea_flags = 0;
  std::uint32_t required_iflag = 0;
  std::uint16_t decorators = 0;
  OperandKind kind = OperandKind::memory;
  bool symbolic = false;          // the resolver recorded a fixup for the value
  std::uint8_t address_bits = 0;  // displacement size named inside the brackets
  bool rip_relative = false;

  friend bool operator==(const X86Operand&, const X86Operand&) = default;
};

// The resolver's answer for one text.
struct X86ResolvedExpression {
  std::int64_t value = 0;
  bool known = false;     // the value is final
  bool absolute = false;  // a plain number, so it may be sized by its value
  bool symbolic = false;  // a fixup was recorded; the field is a placeholder
};

// Resolves operand text that is neither a register nor a literal. An empty
// answer means the text is not an expression at all. A plain function
// pointer with a context keeps the record trivially copyable and free of
// allocation on the per-operand path.
struct X86ExpressionResolver {
  using ResolveFunction = qovrin::Result<std::optional<X86ResolvedExpression>> (*)(void* context,
                                                                                   std::string_view text);

  void* context = nullptr;
  ResolveFunction resolve = nullptr;
  bool enabled = false;  // when false no text is ever resolved

  bool active() const noexcept { return enabled && resolve != nullptr; }

  // Asks for a trimmed text; an inactive resolver answers empty.
  qovrin::Result<std::optional<X86ResolvedExpression>> operator()(std::string_view text) const {
    if (!active()) return std::nullopt;
    return resolve(context, text);
  }
};

}  // namespace x86_encoder::api
