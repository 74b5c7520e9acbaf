#pragma once
// Immediate operands: a literal, or text the resolver answers for.

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/error.hpp"
#include "x86_encoder/operand.hpp"

namespace x86_encoder::api {

// Operand-class word of an immediate with a known absolute value: the
// qualifier bits plus the size classes the value fits. A sized `strict`
// immediate keeps only its written size.
std::uint64_t immediateClassFlags(std::int64_t value, std::uint64_t qualifier_flags) noexcept;

// The immediate operand written by text, or nothing when the text is neither
// a literal nor an expression the resolver accepts.
qovrin::Result<std::optional<X86Operand>> immediateOperandFromCore(std::string_view text, std::uint64_t qualifier_flags,
                                                                   std::uint32_t ea_flags, std::uint16_t decorators,
                                                                   const X86ExpressionResolver& resolver);

// The same, written into an empty operand (the per-operand path fills the
// caller's record in place): true when an immediate was found.
qovrin::Result<bool> fillImmediateOperand(std::string_view text, std::uint64_t qualifier_flags, std::uint32_t ea_flags,
                                          std::uint16_t decorators, const X86ExpressionResolver& resolver,
                                          X86Operand& operand);

}  // namespace x86_encoder::api
