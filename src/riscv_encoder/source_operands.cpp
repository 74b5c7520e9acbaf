#include "riscv_encoder/source_operands.hpp"

#include <algorithm>

#include "common/ascii.hpp"
#include "riscv_encoder/api.hpp"
#include "riscv_encoder/encode_fields.hpp"
#include "riscv_encoder/source_parsers.hpp"

namespace riscv_encoder::source {

using qovrin::Error;
using qovrin::fail;
using qovrin::Status;

namespace {

// The register of a piece "(reg)"; absent when the piece has another shape.
std::optional<std::uint8_t> parenthesisedRegister(std::string_view piece) noexcept {
  if (piece.size() < 2 || piece.front() != '(' || piece.back() != ')') return std::nullopt;
  const auto number = api::parseRegister(piece.substr(1, piece.size() - 2));
  if (!number) return std::nullopt;
  return *number;
}

Status appendImmediate(std::string_view text, const RiscvExpressionHook& hook, RiscvOperandList& operands) {
  const auto operand = parseImmediate(text, hook);
  if (!operand) return fail(operand.error());
  return operands.push(*operand);
}

// "offset(reg)": handled when the text inside the last parentheses is a
// register; anything else (a parenthesised expression) is left to the caller.
std::optional<Status> appendMemoryOperand(std::string_view piece, const AppendContext& context,
                                          const RiscvExpressionHook& hook, RiscvOperandList& operands) {
  if (piece.empty() || piece.back() != ')') return std::nullopt;
  const std::size_t open = piece.rfind('(');
  if (open == std::string_view::npos) return std::nullopt;
  const std::string_view inside = qovrin::trim(piece.substr(open + 1, piece.size() - open - 2), kBlanks);
  if (inside.empty()) return std::nullopt;
  const auto base = api::parseRegister(inside);
  if (!base) return std::nullopt;
  const std::string_view offset_text = qovrin::trim(piece.substr(0, open), kBlanks);
  RiscvOperand offset = immediateOperand(0);
  if (!offset_text.empty()) {
    const auto parsed = parseImmediate(offset_text, hook);
    if (!parsed) return fail(parsed.error());
    offset = *parsed;
  }
  if (operands.count + 2 > kMaxOperands) return fail(Error::TooManyOperands);
  const RiscvOperand base_operand = registerOperand(*base);
  QOVRIN_TRY(operands.push(context.offset_first ? offset : base_operand));
  return operands.push(context.offset_first ? base_operand : offset);
}

// The registers s0..s7 of cm.mva01s / cm.mvsa01, numbered 0..7.
std::optional<std::uint32_t> savedRegisterIndex(std::string_view piece) noexcept {
  const auto number = api::parseRegister(piece);
  if (!number) return std::nullopt;
  if (*number == 8 || *number == 9) return *number - 8u;
  if (*number >= 18 && *number <= 23) return *number - 16u;
  return std::nullopt;
}

// The kinds that appendKindSpecific reads; the pieces of all others go
// straight on to the common readers.
constexpr bool hasKindSpecificReader(std::uint8_t kind) noexcept {
  return kind == 85 || kind == 86 || kind == 68 || kind == 87 || (kind >= 38 && kind <= 40) || kind == 44 ||
         (kind >= 58 && kind <= 64);
}

// Readers that apply to one kind only; absent when the piece goes on to the
// common readers.
std::optional<Status> appendKindSpecific(std::string_view piece, std::uint8_t kind, const RiscvExpressionHook& hook,
                                         RiscvOperandList& operands) {
  switch (kind) {
    case 85: {
      const auto list = parseRegisterList(piece);
      if (list) return operands.push(immediateOperand(*list));
      if (list.error() != Error::UnsupportedOperandSyntax) return fail(list.error());
      return appendImmediate(piece, hook, operands);
    }
    case 86: {
      const auto index = savedRegisterIndex(piece);
      if (!index) return fail(Error::InvalidOperand);
      return operands.push(immediateOperand(*index));
    }
    case 68:
    case 87:
      return appendImmediate(piece, hook, operands);
    case 38:
    case 39:
    case 40:
      if (const auto number = parenthesisedRegister(piece)) return operands.push(registerOperand(*number));
      return std::nullopt;
    default:
      break;
  }
  // Vector loads and stores take a bare base register: no offset in front.
  if (kind == 44 || (kind >= 58 && kind <= 64)) {
    if (piece.back() != ')') return std::nullopt;
    const auto number = parenthesisedRegister(piece);
    if (!number) return fail(Error::InvalidOperand);
    return operands.push(registerOperand(*number));
  }
  return std::nullopt;
}

// The readers before the immediate each need a piece that begins with "{"
// (a register list) or with a letter (the named ones), so the first
// character alone rules out all of them for a number.
Status appendGeneric(std::string_view piece, const AppendContext& context, const RiscvExpressionHook& hook,
                     RiscvOperandList& operands) {
  if (piece.front() == '{') {
    if (const auto list = parseRegisterList(piece)) return operands.push(immediateOperand(*list));
  } else if (qovrin::isAsciiLetter(piece.front())) {
    if (const auto number = api::parseRegister(piece)) return operands.push(registerOperand(*number));
    std::optional<std::uint32_t> named;
    if (const auto fence = parseFenceMask(piece)) named = *fence;
    else if (const auto mode = parseRoundingMode(piece)) named = *mode;
    else if (const auto csr = parseCsrName(piece)) named = *csr;
    if (named && rowsReadNamedValue(context.rows, piece)) return operands.push(immediateOperand(*named));
  }
  return appendImmediate(piece, hook, operands);
}

}  // namespace

bool offsetFirstKind(std::uint8_t kind) noexcept {
  return kind == 26 || kind == 30 || kind == 31 || kind == 76 || kind == 77;
}

Status appendOperand(std::string_view piece, const AppendContext& context, const RiscvExpressionHook& hook,
                     RiscvOperandList& operands) {
  piece = qovrin::trim(piece, kBlanks);
  if (piece.empty()) return fail(Error::InvalidOperand);
  if (operands.count == kMaxOperands) return fail(Error::TooManyOperands);
  if (context.row_found) {
    if (context.mask_position != 0) {
      const bool is_mask = qovrin::equalsIgnoreCase(piece, "v0.t");
      if (operands.count + 1 == context.mask_position && !is_mask) return fail(Error::InvalidOperand);
      if (is_mask) return operands.push(immediateOperand(0));
    }
    if (hasKindSpecificReader(context.kind))
      if (const auto status = appendKindSpecific(piece, context.kind, hook, operands)) return *status;
  }
  if (piece.back() == ')')
    if (const auto status = appendMemoryOperand(piece, context, hook, operands)) return *status;
  return appendGeneric(piece, context, hook, operands);
}

std::optional<std::string_view> namedValueField(std::string_view word) noexcept {
  if (parseRoundingMode(word)) return "rm";
  if (parseFenceMask(word)) return "pred";
  if (parseCsrName(word)) return "csr";
  return std::nullopt;
}

bool rowsReadNamedValue(std::span<const RiscvInstructionRow> rows, std::string_view word) noexcept {
  const auto field = namedValueField(word);
  return field && std::ranges::any_of(rows, [&](const RiscvInstructionRow& row) {
           return encode::hasField(row.fields, *field);
         });
}

}  // namespace riscv_encoder::source
