// Splitting a macro invocation's operand list at its top-level commas, and
// cutting a byte range out of a captured operand's pieces.

#include "frontend/values/operand_text.hpp"

#include <algorithm>
#include <array>
#include <limits>


namespace frontend::operand_text {

using qovrin::Error;
using qovrin::fail;
using value::OperandPiece;
using value::OperandValue;

namespace {

constexpr std::string_view kBlanks = " \t";

char closerOf(char opener) noexcept {
  if (opener == '(') return ')';
  if (opener == '[') return ']';
  return '}';
}

}  // namespace

qovrin::Result<std::vector<std::string_view>> splitOperands(std::string_view text, qovrin::quoted_text::Rules strings) {
  const std::string_view trimmed = qovrin::trim(text, kBlanks);
  std::vector<std::string_view> operands;
  if (trimmed.empty()) return operands;
  std::array<char, kMaxBracketDepth> brackets{};
  std::size_t open = 0;
  std::size_t operand_start = 0;
  const auto finishOperand = [&](std::size_t end) -> qovrin::Status {
    const std::string_view operand = qovrin::trim(trimmed.substr(operand_start, end - operand_start), kBlanks);
    if (operand.empty() || operands.size() >= kMaxOperands) return fail(Error::InvalidMacroOperands);
    operands.push_back(operand);
    operand_start = end + 1;
    return {};
  };
  std::size_t position = 0;
  while (position < trimmed.size()) {
    const char c = trimmed[position];
    if (c == '\n' || c == '\r' || c == ';') return fail(Error::InvalidMacroOperands);
    if (qovrin::quoted_text::opener(strings, trimmed, position) != 0) {
      const auto after = qovrin::quoted_text::stringEnd(strings, trimmed, position);
      if (!after) return fail(Error::InvalidMacroOperands);
      position = *after;
      continue;
    }
    if (c == '(' || c == '[' || c == '{') {
      if (open == brackets.size()) return fail(Error::InvalidMacroOperands);
      brackets[open++] = c;
    } else if (c == ')' || c == ']' || c == '}') {
      if (open == 0 || closerOf(brackets[open - 1]) != c) return fail(Error::InvalidMacroOperands);
      --open;
    } else if (c == ',' && open == 0) {
      QOVRIN_TRY(finishOperand(position));
    }
    ++position;
  }
  if (open != 0) return fail(Error::InvalidMacroOperands);
  QOVRIN_TRY(finishOperand(trimmed.size()));
  return operands;
}

qovrin::Result<OperandValue> sliceOperand(std::span<const OperandPiece> pieces, std::uint64_t start,
                                          std::uint64_t end) {
  if (end < start) return fail(Error::InvalidApiArgument);
  std::vector<OperandPiece> sliced;
  std::uint64_t piece_start = 0;
  for (const OperandPiece& piece : pieces) {
    if (piece.text.size() > std::numeric_limits<std::uint64_t>::max() - piece_start)
      return fail(Error::InvalidApiArgument);
    const std::uint64_t piece_end = piece_start + piece.text.size();
    const std::uint64_t from = std::max(start, piece_start);
    const std::uint64_t to = std::min(end, piece_end);
    if (from < to)
      sliced.push_back(OperandPiece{piece.text.substr(from - piece_start, to - from), piece.environment});
    piece_start = piece_end;
  }
  if (end > piece_start) return fail(Error::InvalidApiArgument);
  return OperandValue::make(std::move(sliced));
}

}  // namespace frontend::operand_text
