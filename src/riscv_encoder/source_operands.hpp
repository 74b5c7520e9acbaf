#pragma once
// Turns one comma-separated piece of operand text into operand records.

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/error.hpp"
#include "riscv_encoder/operand.hpp"

namespace riscv_encoder::source {

struct AppendContext {
  std::uint8_t kind = 0;     // operand-syntax kind of the pre-lookup row
  bool row_found = false;
  bool offset_first = false;  // a memory operand gives its offset before its register
};

// Kinds that store an offset in front of its base register in their field order.
bool offsetFirstKind(std::uint8_t kind) noexcept;

// The operand count of a kind that takes a vector mask operand.
std::optional<std::size_t> vectorMaskOperandCount(std::uint8_t kind) noexcept;

// Kinds whose rows carry an nf field beside the mask.
constexpr bool vectorSegmentKind(std::uint8_t kind) noexcept { return kind >= 58 && kind <= 63; }

// Appends the one or two records (offset and register of a memory operand)
// that the piece stands for.
qovrin::Status appendOperand(std::string_view piece, const AppendContext& context, const RiscvExpressionHook& hook,
                             RiscvOperandList& operands);

}  // namespace riscv_encoder::source
