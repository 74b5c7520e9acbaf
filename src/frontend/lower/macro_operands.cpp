// Capturing an operand as pieces that remember where they were written.

#include "common/quoted_text.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/macro.hpp"
#include "frontend/values/operand_text.hpp"

namespace frontend::macro {

using qovrin::Error;
using qovrin::fail;
using value::OperandPiece;
using value::OperandValue;

qovrin::Result<OperandValue> capture(lower::context::LowerContext& context, const EnvironmentRef& environment,
                                     std::string_view text) {
  std::vector<OperandPiece> pieces;
  std::size_t run_start = 0;
  const auto emitRun = [&](std::size_t end) {
    if (end > run_start)
      pieces.push_back(OperandPiece{std::string(text.substr(run_start, end - run_start)), environment});
  };
  const qovrin::quoted_text::Rules strings =
      environment->target ? environment->target->strings() : qovrin::quoted_text::kSource;
  std::size_t position = 0;
  while (position < text.size()) {
    const char c = text[position];
    if (qovrin::quoted_text::opener(strings, text, position) != 0) {
      const auto after = qovrin::quoted_text::stringEnd(strings, text, position);
      if (!after) return fail(Error::InvalidMacroOperands);
      position = *after;
      continue;
    }
    const bool starts_name =
        identifier::isNameStart(c) && (position == 0 || !identifier::isNameChar(text[position - 1]));
    if (!starts_name) {
      ++position;
      continue;
    }
    std::size_t end = position + 1;
    while (end < text.size() && identifier::isNameChar(text[end])) ++end;
    const std::string_view name = text.substr(position, end - position);
    // b"..." is a bytes literal, not a name.
    if (name == "b" && end < text.size() && text[end] == '"') {
      position = end;
      continue;
    }
    const value::Value* local = lower::context::lookupLocalValue(context, name);
    const OperandValue* operand = local == nullptr ? nullptr : local->asOperand();
    if (operand != nullptr) {
      emitRun(position);
      pieces.insert(pieces.end(), operand->pieces().begin(), operand->pieces().end());
      run_start = end;
    }
    position = end;
  }
  emitRun(text.size());
  return OperandValue::make(std::move(pieces));
}

}  // namespace frontend::macro
