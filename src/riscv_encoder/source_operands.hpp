#pragma once
// Turns one comma-separated piece of operand text into operand records.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "riscv_encoder/operand.hpp"
#include "riscv_encoder/table_rows.hpp"

namespace riscv_encoder::source {

struct AppendContext {
  std::uint8_t kind = 0;     // operand-syntax kind of the pre-lookup row
  bool row_found = false;
  bool offset_first = false;  // a memory operand gives its offset before its register
  std::uint8_t mask_position = 0;  // writtenMaskPosition of the kind, 0 for a kind without a mask
  std::span<const RiscvInstructionRow> rows;  // every row of the mnemonic
};

// The field that reads the value a word names: "rm" for a rounding mode,
// "pred" for a fence set, "csr" for a CSR name; none for any other word.
std::optional<std::string_view> namedValueField(std::string_view word) noexcept;

// Whether some row reads the value the word names. Only then does the word
// stand for that value: elsewhere "w" or "rne" is a name like any other, a
// label or an undefined symbol, not a fence set or a rounding mode.
bool rowsReadNamedValue(std::span<const RiscvInstructionRow> rows, std::string_view word) noexcept;

// Kinds that store an offset in front of its base register in their field order.
bool offsetFirstKind(std::uint8_t kind) noexcept;

// The operand count of a kind that takes a vector mask operand.
constexpr std::optional<std::size_t> vectorMaskOperandCount(std::uint8_t kind) noexcept {
  switch (kind) {
    case 41: case 42: case 47: case 48: case 58: case 59: case 66: return 4;
    case 60: case 61: case 62: case 63: return 5;
    case 43: case 51: return 3;
    case 55: return 2;
    default: return std::nullopt;
  }
}

// Kinds whose rows carry an nf field beside the mask.
constexpr bool vectorSegmentKind(std::uint8_t kind) noexcept { return kind >= 58 && kind <= 63; }

// The operand number, from 1, of a written mask: the last one written, as
// vm is the last field a kind reads. Segment kinds have their nf operand
// inserted before it later, so their mask is written one place earlier.
constexpr std::optional<std::size_t> writtenMaskPosition(std::uint8_t kind) noexcept {
  const auto mask_count = vectorMaskOperandCount(kind);
  if (!mask_count) return std::nullopt;
  return vectorSegmentKind(kind) ? *mask_count - 1 : *mask_count;
}

// Appends the one or two records (offset and register of a memory operand)
// that the piece stands for.
qovrin::Status appendOperand(std::string_view piece, const AppendContext& context, const RiscvExpressionHook& hook,
                             RiscvOperandList& operands);

}  // namespace riscv_encoder::source
