#include "x86_encoder/operand_parse.hpp"

#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/operand_immediate.hpp"
#include "x86_encoder/operand_literals.hpp"
#include "x86_encoder/operand_memory.hpp"
#include "x86_encoder/operand_text.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::api {

using qovrin::Error;
using qovrin::fail;
using tables::RegisterRow;

namespace {

qovrin::Status recordSegment(X86Instruction& context, const RegisterRow& segment) noexcept {
  std::uint32_t& slot = context.prefix(PrefixSlot::segment);
  const auto id = static_cast<std::uint32_t>(segment.id);
  if (slot != 0 && slot != id) return fail(Error::UnsupportedPrefixes);
  slot = id;
  return {};
}

X86Operand registerOperand(const RegisterRow& row, std::uint64_t flags) noexcept {
  X86Operand operand;
  operand.kind = OperandKind::reg;
  operand.flags = row.flags | flags;
  operand.base = row.id;
  return operand;
}

// "reg+N": N + 1 consecutive registers, N + 1 being 1, 2, 4, 8 or 16.
qovrin::Result<X86Operand> registerSet(const RegisterRow& row, std::string_view count, std::uint64_t flags) noexcept {
  const auto literal = parseIntLiteralForEncode(count);
  if (!literal) return fail(literal.error());
  if (!*literal || **literal < 0) return fail(Error::UnsupportedOperandSyntax);
  std::int64_t size = 0;
  if (__builtin_add_overflow(**literal, 1, &size)) return fail(Error::IntegerOverflow);
  if (size >= 32 || (size & (size - 1)) != 0) return fail(Error::UnsupportedOperandSyntax);
  return registerOperand(row, flags | (static_cast<std::uint64_t>(size) & kRegisterSetSizes) << kRegisterSetShift);
}

// The memory operand of the address text inside the brackets.
qovrin::Result<X86Operand> memoryOperand(X86Instruction& context, std::string_view inside,
                                         const QualifiedText& qualifiers, std::uint16_t decorators,
                                         const X86ExpressionResolver& resolver) {
  auto operand = parseEffectiveAddressMemoryOperand(context, inside, resolver);
  if (!operand) return operand;
  operand->kind = OperandKind::memory;
  operand->flags |= qualifiers.flags;
  operand->ea_flags |= qualifiers.ea_flags;
  operand->decorators = decorators;
  if ((operand->flags & kSizeMask & ~kSizeWord) == 0) operand->flags |= kMemoryUnsized;
  return operand;
}

qovrin::Result<X86Operand> parseUnguarded(X86Instruction& context, std::string_view text,
                                          const X86ExpressionResolver& resolver) {
  const auto decorated = splitOperandDecorators(text);
  if (!decorated) return fail(decorated.error());
  const auto decorators = parseOperandDecorators(decorated->decorators);
  if (!decorators) return fail(decorators.error());
  const auto qualified = stripOperandQualifiers(decorated->core);
  if (!qualified) return fail(qualified.error());
  const std::string_view rest = qualified->text;

  if (isBracketed(rest)) {
    std::string_view inside = trimOperandText(rest.substr(1, rest.size() - 2));
    if (inside.empty()) return fail(Error::UnsupportedOperandSyntax);
    if (const auto override = splitSegmentOverride(inside)) {
      if (auto recorded = recordSegment(context, *override->segment); !recorded) return fail(recorded.error());
      inside = override->rest;
    }
    return memoryOperand(context, inside, *qualified, *decorators, resolver);
  }

  if (const auto override = splitSegmentOverride(rest)) {
    const std::string_view address = override->rest;
    if (!isBracketed(address)) return fail(Error::UnsupportedOperandSyntax);
    const std::string_view inside = trimOperandText(address.substr(1, address.size() - 2));
    if (inside.empty()) return fail(Error::UnsupportedOperandSyntax);
    if (auto recorded = recordSegment(context, *override->segment); !recorded) return fail(recorded.error());
    return memoryOperand(context, inside, *qualified, *decorators, resolver);
  }

  if (const RegisterRow* row = tables::findRegister(rest)) {
    X86Operand operand = registerOperand(*row, qualified->flags);
    operand.ea_flags = qualified->ea_flags;
    operand.decorators = *decorators;
    return operand;
  }

  if (const auto halves = splitTopLevelDelimiter(rest, '+')) {
    if (const RegisterRow* row = tables::findRegister(halves->left)) {
      auto operand = registerSet(*row, halves->right, qualified->flags);
      if (!operand) return operand;
      operand->ea_flags = qualified->ea_flags;
      operand->decorators = *decorators;
      return operand;
    }
  }

  auto immediate = immediateOperandFromCore(rest, qualified->flags, qualified->ea_flags, *decorators, resolver);
  if (!immediate) return fail(immediate.error());
  if (!*immediate) return fail(Error::UnsupportedOperandSyntax);
  return **immediate;
}

}  // namespace

qovrin::Result<X86Operand> parseOperandText(X86Instruction& context, std::string_view text,
                                            const X86ExpressionResolver& resolver) {
  const auto saved = context.prefixes;
  auto operand = parseUnguarded(context, text, resolver);
  if (!operand) context.prefixes = saved;
  return operand;
}

}  // namespace x86_encoder::api
