#include "frontend/lower/operand_line.hpp"

#include "common/quoted_text.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/lexer.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/instruction_words.hpp"
#include "frontend/lower/macro.hpp"
#include "frontend/values/operand_text.hpp"

namespace frontend::lower::operand_line {

using qovrin::Error;
using qovrin::fail;

namespace {

qovrin::Result<bool> namesOperand(context::LowerContext& context, std::string_view operands,
                                  qovrin::quoted_text::Rules strings) {
  std::size_t position = 0;
  while (position < operands.size()) {
    const char c = operands[position];
    if (qovrin::quoted_text::opener(strings, operands, position) != 0) {
      const auto end = qovrin::quoted_text::stringEnd(strings, operands, position);
      if (!end) return fail(Error::InvalidMacroOperands);
      position = *end;
      continue;
    }
    if (!identifier::isNameStart(c)) {
      ++position;
      continue;
    }
    std::size_t end = position + 1;
    while (end < operands.size() && identifier::isNameChar(operands[end])) ++end;
    const value::Value* local = context::lookupLocalValue(context, operands.substr(position, end - position));
    if (local != nullptr && local->asOperand() != nullptr) return true;
    position = end;
  }
  return false;
}

qovrin::Status appendSlice(std::string& out, const module::Module& module, const value::OperandValue& captured,
                           std::size_t start, std::size_t end, target::Target target, std::string_view mnemonic) {
  const auto slice = operand_text::sliceOperand(captured.pieces(), start, end);
  if (!slice) return fail(slice.error());
  return macro::appendNativePieces(out, module, target, mnemonic, slice->pieces());
}

}  // namespace

qovrin::Result<std::optional<std::string>> lowerOperandLine(module::Module& module, context::LowerContext& context,
                                                            const contracts::ActiveOutput& cursor,
                                                            std::string_view text) {
  if (context.meta_call_depth == 0 || context.macros.empty()) return std::nullopt;
  const std::size_t word_end = macro::firstWordEnd(text);
  // A RISC-V comment is left as written, for the encoder alone to read.
  std::string_view comment;
  if (cursor.target.isa == target::Isa::riscv) {
    const std::size_t start = lexer::riscvCommentStart(text);
    if (start != std::string_view::npos && start >= word_end) {
      comment = text.substr(start);
      text = text.substr(0, start);
    }
  }
  const std::string_view operands = text.substr(word_end);
  if (operands.empty()) return std::nullopt;
  const auto named = namesOperand(context, operands, cursor.target.strings());
  if (!named) return fail(named.error());
  if (!*named) return std::nullopt;

  auto environment = context::captureOperandEnvironment(context, module);
  if (!environment) return fail(environment.error());
  (*environment)->position = value::OperandPosition{cursor.offset, cursor.file_cursor};
  (*environment)->target = cursor.target;
  (*environment)->section = cursor.section;
  const auto captured = macro::capture(context, std::move(*environment), operands);
  if (!captured) return fail(captured.error());

  const std::string_view mnemonic = text.substr(0, word_end);
  std::string out(mnemonic);
  const std::string joined = captured->text();
  const expr::EvaluationContext evaluation =
      expression_bridge::evaluationContextAt(module, context, cursor, context.hooks);
  std::size_t position = 0;
  while (const auto call = instruction_words::findBuiltinCall(joined, position, cursor.target)) {
    QOVRIN_TRY(appendSlice(out, module, *captured, position, call->start, cursor.target, mnemonic));
    const auto slice = operand_text::sliceOperand(captured->pieces(), call->start, call->end);
    if (!slice) return fail(slice.error());
    const auto value = macro::evaluateOperand(context, *slice, evaluation);
    if (!value) return fail(expression_bridge::mapExpressionError(value.error()));
    const auto* integer = value->asInteger();
    if (integer == nullptr) return fail(Error::InvalidExpression);
    out += std::to_string(integer->word);
    position = call->end;
  }
  QOVRIN_TRY(appendSlice(out, module, *captured, position, joined.size(), cursor.target, mnemonic));
  out += comment;
  return out;
}

}  // namespace frontend::lower::operand_line
