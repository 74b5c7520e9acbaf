#include "x86_encoder/operand_pairs.hpp"

#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/operand_immediate.hpp"
#include "x86_encoder/operand_text.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::api {

namespace {

// A half that holds a bracket is an address, with or without size words
// before it ("0x10:dword [x]").
bool isAddressOrRegister(std::string_view text) noexcept {
  return text.find('[') != std::string_view::npos || findOperandRegister(text) != nullptr;
}

X86Operand pairedRegister(const tables::RegisterRow& row) noexcept {
  X86Operand operand;
  operand.kind = OperandKind::reg;
  operand.flags = row.flags;
  operand.base = row.id;
  return operand;
}

}  // namespace

std::optional<FarPointerText> splitFarPointer(std::string_view text) noexcept {
  const auto decorated = splitOperandDecorators(text);
  if (!decorated || !decorated->decorators.empty()) return std::nullopt;
  const auto qualified = stripOperandQualifiers(decorated->core);
  if (!qualified) return std::nullopt;
  const auto halves = splitTopLevelDelimiter(qualified->text, ':');
  if (!halves || isAddressOrRegister(halves->left) || isAddressOrRegister(halves->right)) return std::nullopt;
  return FarPointerText{qualified->flags, qualified->ea_flags, halves->left, halves->right};
}

qovrin::Result<std::optional<OperandPair>> parseFarPointerOperands(std::string_view text,
                                                                   const X86ExpressionResolver& resolver) {
  const auto split = splitFarPointer(text);
  if (!split) return std::nullopt;
  auto segment = immediateOperandFromCore(split->segment, split->qualifier_flags, split->ea_flags, 0, resolver);
  if (!segment) return qovrin::fail(segment.error());
  if (!*segment) return std::nullopt;
  auto offset = immediateOperandFromCore(split->offset, 0, 0, 0, resolver);
  if (!offset) return qovrin::fail(offset.error());
  if (!*offset) return std::nullopt;
  (*segment)->flags |= kColon;
  return OperandPair{**segment, **offset};
}

std::optional<OperandPair> parseRegisterPair(std::string_view text) noexcept {
  const auto halves = splitTopLevelDelimiter(text, ':');
  if (!halves) return std::nullopt;
  const tables::RegisterRow* high = findOperandRegister(halves->left);
  const tables::RegisterRow* low = findOperandRegister(halves->right);
  if (high == nullptr || low == nullptr) return std::nullopt;
  if (((high->flags | low->flags) & kSegmentClass) != 0) return std::nullopt;
  OperandPair pair{pairedRegister(*high), pairedRegister(*low)};
  pair.first.flags |= kColon;
  return pair;
}

}  // namespace x86_encoder::api
