#include "x86_encoder/operand_immediate.hpp"

#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/operand_literals.hpp"
#include "x86_encoder/operand_text.hpp"

namespace x86_encoder::api {

namespace {

constexpr bool fitsSignedByte(std::int64_t value) noexcept { return value >= -128 && value <= 127; }

}  // namespace

std::uint64_t immediateClassFlags(std::int64_t value, std::uint64_t qualifier_flags) noexcept {
  std::uint64_t flags = qualifier_flags | kImmediateLiteral;
  const bool strict = (qualifier_flags & kStrict) != 0;
  if (strict && (qualifier_flags & kSizeMask) != 0) return flags;
  if (value == 1)
    flags |= kImmediateOneLiteral;
  else if (value >= -16 && value <= 15)
    flags |= kImmediateSmallLiteral;
  if (strict) return flags;
  const auto bits = static_cast<std::uint64_t>(value);
  if (fitsSignedByte(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits))))
    flags |= kClassImmediate | kImmediateDwordFitsSignedByte;
  if (fitsSignedByte(static_cast<std::int16_t>(static_cast<std::uint16_t>(bits))))
    flags |= kClassImmediate | kImmediateWordFitsSignedByte;
  if (bits <= 0xFFFF'FFFFu) flags |= kClassImmediate | kImmediateFitsUnsigned32;
  if (value >= INT32_MIN && value <= INT32_MAX) flags |= kClassImmediate | kImmediateFitsSigned32;
  return flags;
}

qovrin::Result<bool> fillImmediateOperand(std::string_view text, std::uint64_t qualifier_flags, std::uint32_t ea_flags,
                                          std::uint16_t decorators, const X86ExpressionResolver& resolver,
                                          X86Operand& operand) {
  text = trimOperandText(text);
  if (text.empty()) return false;
  const auto literal = readIntLiteral(text, operand.value);
  if (!literal) return qovrin::fail(literal.error());
  if (*literal) {
    operand.value_flags = kValueKnownAbsolute;
    operand.flags = immediateClassFlags(operand.value, qualifier_flags);
  } else {
    const auto answer = resolver(text);
    if (!answer) return qovrin::fail(answer.error());
    if (!*answer) return false;
    const X86ResolvedExpression& resolved = **answer;
    operand.value = resolved.value;
    operand.symbolic = resolved.symbolic;
    if (!resolved.known) {
      operand.value_flags = kValueUnknown;
      operand.flags = qualifier_flags | kImmediateLiteral;
    } else if (resolved.absolute) {
      operand.value_flags = kValueKnownAbsolute;
      operand.flags = immediateClassFlags(resolved.value, qualifier_flags);
    } else {
      operand.flags = qualifier_flags | kImmediateKnownSymbolic;
    }
  }
  operand.kind = OperandKind::immediate;
  operand.ea_flags = ea_flags;
  operand.decorators = decorators;
  return true;
}

qovrin::Result<std::optional<X86Operand>> immediateOperandFromCore(std::string_view text, std::uint64_t qualifier_flags,
                                                                   std::uint32_t ea_flags, std::uint16_t decorators,
                                                                   const X86ExpressionResolver& resolver) {
  qovrin::Result<std::optional<X86Operand>> result{std::in_place, std::in_place};
  const auto filled = fillImmediateOperand(text, qualifier_flags, ea_flags, decorators, resolver, **result);
  if (!filled)
    result = qovrin::fail(filled.error());
  else if (!*filled)
    result->reset();
  return result;
}

}  // namespace x86_encoder::api
