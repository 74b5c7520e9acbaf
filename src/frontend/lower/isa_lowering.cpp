#include "frontend/lower/isa_lowering.hpp"

#include <algorithm>
#include <optional>

#include "common/ascii.hpp"
#include "common/quoted_text.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/instruction_words.hpp"
#include "frontend/syntax/byte_scan.hpp"
#include "frontend/syntax/lexer.hpp"

namespace frontend::lower::isa_lowering {

using qovrin::Error;
using qovrin::fail;

namespace {

// Every builtin call replaced by the decimal text of its integer.
qovrin::Result<std::string> substituteBuiltinCalls(module::Module& module, context::LowerContext& context,
                                                   const contracts::ActiveOutput& cursor, std::string_view text) {
  std::string lowered;
  lowered.reserve(text.size());
  std::size_t position = 0;
  while (const auto call = instruction_words::findBuiltinCall(text, position, cursor.target)) {
    lowered.append(text.substr(position, call->start - position));
    const auto tree = expr::parseOwned(text.substr(call->start, call->end - call->start));
    if (!tree) return fail(expression_bridge::mapExpressionError(tree.error()));
    const auto value = root::evalIntegerAtContext(module, context, cursor, *tree);
    if (!value) return fail(value.error());
    lowered += std::to_string(*value);
    position = call->end;
  }
  lowered.append(text.substr(position));
  return lowered;
}

// The integer a name stands for: an integer local, else a module value that
// holds an integer. A local of another kind hides a module value of the name.
std::optional<std::uint64_t> integerNamed(const module::Module& module, context::LowerContext& context,
                                          std::string_view name) {
  const value::Value* local = context.scopes.empty() ? nullptr : context::lookupLocalValue(context, name);
  if (local != nullptr) {
    if (const auto* integer = local->asInteger()) return integer->word;
    return std::nullopt;
  }
  if (!context.value_names.mayHold(name)) return std::nullopt;
  const symbol::Symbol* symbol = module.findSymbol(name);
  const symbol::ValueSymbol* named = symbol == nullptr ? nullptr : symbol->value();
  if (named == nullptr) return std::nullopt;
  if (const auto* integer = named->value.asInteger()) return integer->word;
  return std::nullopt;
}

// Fails as the name scan fails on a quote that is never closed; every quote
// outside a quoted run opens one, since no word holds a quote.
qovrin::Status checkQuotes(target::Target target, std::string_view text) {
  const qovrin::quoted_text::Rules strings = target.strings();
  std::size_t position = 0;
  while (true) {
    // Two memchr scans beat one loop testing both quotes: most lines hold neither.
    // x86_throughput.py shows it; no figure was recorded.
    position = std::min(text.find('\'', position), text.find('"', position));
    if (position == std::string_view::npos) return {};
    if (qovrin::quoted_text::opener(strings, text, position) == 0) {
      ++position;
      continue;
    }
    const auto closed = qovrin::quoted_text::stringEnd(strings, text, position);
    if (!closed) return fail(Error::InvalidExpression);
    position = *closed;
  }
}

// The text with every name that stands for an integer replaced; none when no
// name does, so that the common line is never copied here.
qovrin::Result<std::optional<std::string>> substituteNames(const module::Module& module,
                                                           context::LowerContext& context, target::Target target,
                                                           std::string_view text) {
  // With no scope open and no module value, no name stands for an integer.
  if (context.scopes.empty() && context.value_names.empty()) {
    QOVRIN_TRY(checkQuotes(target, text));
    return std::nullopt;
  }
  std::optional<std::string> lowered;
  std::size_t copied = 0;  // text before this is in lowered
  std::size_t position = 0;
  while (position < text.size()) {
    const char c = text[position];
    if (qovrin::quoted_text::opener(target.strings(), text, position) != 0) {
      const auto closed = qovrin::quoted_text::stringEnd(target.strings(), text, position);
      if (!closed) return fail(Error::InvalidExpression);
      position = *closed;
      continue;
    }
    if (qovrin::isAsciiDigit(c)) {
      position = instruction_words::wordEnd(text, position);
      continue;
    }
    if (!instruction_words::startsIdentifier(c)) {
      ++position;
      continue;
    }
    const std::size_t end = instruction_words::wordEnd(text, position);
    const std::string_view name = text.substr(position, end - position);
    // The lookup comes first: it rules out most names at less cost.
    const auto value = integerNamed(module, context, name);
    if (value && !instruction_words::shouldKeepIsaIdentifier(target, text, position, name)) {
      if (!lowered) {
        lowered.emplace();
        lowered->reserve(text.size() + 16);
      }
      lowered->append(text.substr(copied, position - copied));
      *lowered += std::to_string(*value);
      copied = end;
    }
    position = end;
  }
  if (lowered) lowered->append(text.substr(copied));
  return lowered;
}

// The text with its builtin calls and names replaced; a builtin call opens
// no parenthesis before `first_parenthesis`.
qovrin::Result<std::optional<std::string>> lowerCode(module::Module& module, context::LowerContext& context,
                                                     const contracts::ActiveOutput& cursor, std::string_view text,
                                                     std::size_t first_parenthesis) {
  if (first_parenthesis >= text.size() || text.find('(', first_parenthesis) == std::string_view::npos ||
      !instruction_words::findBuiltinCall(text, 0, cursor.target))
    return substituteNames(module, context, cursor.target, text);
  auto with_values = substituteBuiltinCalls(module, context, cursor, text);
  if (!with_values) return fail(with_values.error());
  auto named = substituteNames(module, context, cursor.target, *with_values);
  if (named && !*named) named->emplace(std::move(*with_values));
  return named;
}

}  // namespace

qovrin::Result<std::optional<std::string>> lowerText(module::Module& module, context::LowerContext& context,
                                                      const contracts::ActiveOutput& cursor, std::string_view text,
                                                      bool plain) {
  context.value_names.sync(module);
  // Most lines hold no parenthesis, which every builtin call has, and no
  // open quote; where no name may stand for an integer either, nothing
  // changes.
  const std::size_t parenthesis_or_quote = plain ? text.size() : byte_scan::findFirstOf<'(', '\'', '"'>(text, 0);
  if (parenthesis_or_quote == text.size() && context.scopes.empty() && context.value_names.empty())
    return std::nullopt;
  // A RISC-V comment is left as written, for the encoder alone to read: a
  // quote in it opens no string, and a name in it stands for no value.
  std::string_view comment;
  if (cursor.target.isa == target::Isa::riscv) {
    const std::size_t start = lexer::riscvCommentStart(text);
    if (start != std::string_view::npos) {
      comment = text.substr(start);
      text = text.substr(0, start);
    }
  }
  auto lowered = lowerCode(module, context, cursor, text, parenthesis_or_quote);
  if (lowered && *lowered) (*lowered)->append(comment);
  return lowered;
}

}  // namespace frontend::lower::isa_lowering
