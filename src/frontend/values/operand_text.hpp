#pragma once
// The text of macro operands: an invocation's operand list split at its
// top-level commas, and byte ranges of a captured operand. The evaluator's
// operand builtins and the macro expansion both work through these.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "common/quoted_text.hpp"
#include "frontend/values/value.hpp"

namespace frontend::operand_text {

// At most this many operands in one invocation, brackets nested this deep.
inline constexpr std::size_t kMaxOperands = 256;
inline constexpr std::size_t kMaxBracketDepth = 64;

// The top-level operands of an invocation, each trimmed of blanks; they point
// into text. Empty text has none. InvalidMacroOperands for an empty operand,
// more than kMaxOperands, unbalanced or too deeply nested brackets, an open
// quote, a line break or ";". Strings are read as the target of the line
// that holds the operands reads them.
qovrin::Result<std::vector<std::string_view>> splitOperands(std::string_view text,
                                                            qovrin::quoted_text::Rules strings);

// The bytes [start, end) of the joined pieces, each part keeping its
// environment; InvalidApiArgument for a range outside the text.
qovrin::Result<value::OperandValue> sliceOperand(std::span<const value::OperandPiece> pieces, std::uint64_t start,
                                                 std::uint64_t end);

}  // namespace frontend::operand_text
