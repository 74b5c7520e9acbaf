#include "x86_encoder/operand_parse.hpp"

#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/operand_immediate.hpp"
#include "x86_encoder/operand_literals.hpp"
#include "x86_encoder/operand_memory.hpp"
#include "x86_encoder/operand_scan.hpp"
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

void fillRegister(const RegisterRow& row, const QualifiedText& qualifiers, std::uint16_t decorators,
                  X86Operand& operand) noexcept {
  operand.kind = OperandKind::reg;
  operand.flags = row.flags | qualifiers.flags;
  operand.base = row.id;
  operand.ea_flags = qualifiers.ea_flags;
  operand.decorators = decorators;
}

// "reg+N": N + 1 consecutive registers, N + 1 being 1, 2, 4, 8 or 16.
qovrin::Status fillRegisterSet(const RegisterRow& row, std::string_view count, const QualifiedText& qualifiers,
                               std::uint16_t decorators, X86Operand& operand) noexcept {
  std::int64_t last = 0;
  const auto literal = readIntLiteral(count, last);
  if (!literal) return fail(literal.error());
  if (!*literal || last < 0) return fail(Error::UnsupportedOperandSyntax);
  std::int64_t size = 0;
  if (__builtin_add_overflow(last, 1, &size)) return fail(Error::IntegerOverflow);
  if (size >= 32 || (size & (size - 1)) != 0) return fail(Error::UnsupportedOperandSyntax);
  fillRegister(row, qualifiers, decorators, operand);
  operand.flags |= (static_cast<std::uint64_t>(size) & kRegisterSetSizes) << kRegisterSetShift;
  return {};
}

// What every memory operand takes from the words around its brackets.
void finishMemory(const QualifiedText& qualifiers, std::uint16_t decorators, X86Operand& operand) noexcept {
  operand.kind = OperandKind::memory;
  operand.flags |= qualifiers.flags;
  operand.ea_flags |= qualifiers.ea_flags;
  operand.decorators = decorators;
  if ((operand.flags & kSizeMask & ~kSizeWord) == 0) operand.flags |= kMemoryUnsized;
}

// The memory operand of the address text inside the brackets.
qovrin::Status fillMemory(X86Instruction& context, std::string_view inside, const QualifiedText& qualifiers,
                          std::uint16_t decorators, const X86ExpressionResolver& resolver, X86Operand& operand) {
  QOVRIN_TRY(fillEffectiveAddressOperand(context, inside, resolver, operand));
  finishMemory(qualifiers, decorators, operand);
  return {};
}

// "[address]", with size words before it, whose address reads in one pass
// (fillFlatAddress): the common memory operand, without the separate scans
// for decorators, segment overrides and modifier words that cannot be there.
// False, with the record untouched, for anything else.
bool fillFlatMemory(std::string_view text, X86Operand& operand) noexcept {
  QualifiedText qualified{.text = text};
  if (qovrin::isAsciiLetter(text.front())) {
    const auto stripped = stripOperandQualifiers(text);
    if (!stripped || stripped->ea_flags != 0) return false;
    qualified = *stripped;
  }
  const std::string_view rest = qualified.text;
  if (!isBracketed(rest) || !fillFlatAddress(trimOperandText(rest.substr(1, rest.size() - 2)), operand)) return false;
  finishMemory(qualified, 0, operand);
  return true;
}

qovrin::Status fillOperand(X86Instruction& context, std::string_view text, const X86ExpressionResolver& resolver,
                           X86Operand& operand) {
  const std::string_view word = trimOperandText(text);
  if (isPlainOperandWord(word)) return fillPlainOperandWord(word, resolver, operand);
  if (!word.empty() && fillFlatMemory(word, operand)) return {};
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
      QOVRIN_TRY(recordSegment(context, *override->segment));
      inside = override->rest;
    }
    return fillMemory(context, inside, *qualified, *decorators, resolver, operand);
  }

  if (const auto override = splitSegmentOverride(rest)) {
    const std::string_view address = override->rest;
    if (!isBracketed(address)) return fail(Error::UnsupportedOperandSyntax);
    const std::string_view inside = trimOperandText(address.substr(1, address.size() - 2));
    if (inside.empty()) return fail(Error::UnsupportedOperandSyntax);
    QOVRIN_TRY(recordSegment(context, *override->segment));
    return fillMemory(context, inside, *qualified, *decorators, resolver, operand);
  }

  if (const RegisterRow* row = findOperandRegister(rest)) {
    fillRegister(*row, *qualified, *decorators, operand);
    return {};
  }

  if (const auto halves = splitTopLevelDelimiter(rest, '+')) {
    if (const RegisterRow* row = findOperandRegister(halves->left))
      return fillRegisterSet(*row, halves->right, *qualified, *decorators, operand);
  }

  const auto immediate =
      fillImmediateOperand(rest, qualified->flags, qualified->ea_flags, *decorators, resolver, operand);
  if (!immediate) return fail(immediate.error());
  if (!*immediate) return fail(Error::UnsupportedOperandSyntax);
  return {};
}

}  // namespace

bool readsAsPlainWord(std::string_view word) noexcept {
  if (word.size() > 2 && word.front() == '(' && word.back() == ')')
    return isPlainOperandWord(word.substr(1, word.size() - 2));
  return isCharacterConstant(word);
}

qovrin::Status fillPlainOperandWord(std::string_view word, const X86ExpressionResolver& resolver,
                                    X86Operand& operand) {
  if (const RegisterRow* row = findOperandRegister(word)) {
    fillRegister(*row, QualifiedText{}, 0, operand);
    return {};
  }
  const auto immediate = fillImmediateOperand(word, 0, 0, 0, resolver, operand);
  if (!immediate) return fail(immediate.error());
  if (!*immediate) return fail(Error::UnsupportedOperandSyntax);
  return {};
}

qovrin::Status fillOperandText(X86Instruction& context, std::string_view text, const X86ExpressionResolver& resolver,
                               X86Operand& operand) {
  return fillOperand(context, text, resolver, operand);
}

qovrin::Status parseOperandText(X86Instruction& context, std::string_view text, const X86ExpressionResolver& resolver,
                                X86Operand& operand) {
  const auto saved = context.prefixes;
  operand = X86Operand{};
  auto filled = fillOperand(context, text, resolver, operand);
  if (!filled) {
    context.prefixes = saved;
    operand = X86Operand{};
  }
  return filled;
}

qovrin::Result<X86Operand> parseOperandText(X86Instruction& context, std::string_view text,
                                            const X86ExpressionResolver& resolver) {
  qovrin::Result<X86Operand> result{std::in_place};
  if (auto parsed = parseOperandText(context, text, resolver, *result); !parsed) result = fail(parsed.error());
  return result;
}

}  // namespace x86_encoder::api
