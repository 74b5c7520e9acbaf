// Evaluating a captured operand as an expression where it was written.

#include <string>
#include <utility>

#include "common/ascii.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/macro.hpp"

namespace frontend::macro {

using lower::context::LowerContext;
using lower::context::MetaScope;
using qovrin::Error;
using qovrin::fail;
using value::OperandPiece;
using value::Value;

namespace {

// Generated names start with a zero byte, which no source name contains, so
// they can never meet a name written in a source.
std::string generatedName(std::string_view kind, std::size_t piece, std::size_t offset) {
  std::string name(1, '\0');
  name += kind;
  name += std::to_string(piece);
  name += '_';
  name += std::to_string(offset);
  return name;
}

// Turns each name of the operand's text into the name of a binding made from
// the environment of the piece the name was written in; names that piece
// could not see are blocked, so reading one fails.
class CapturedSymbolMapper {
 public:
  CapturedSymbolMapper(std::span<const OperandPiece> pieces, const module::Module& module)
      : pieces_(pieces), module_(module) {}

  qovrin::Result<std::string> map(std::string_view identifier, std::size_t offset, bool keep) {
    std::size_t piece_end = 0;
    std::size_t index = 0;
    for (; index < pieces_.size(); ++index) {
      piece_end += pieces_[index].text.size();
      if (offset < piece_end) break;
    }
    if (index == pieces_.size()) return fail(Error::InvalidOperand);
    if (const Value* bound = lower::context::environmentBinding(module_, *pieces_[index].environment, identifier)) {
      std::string name = generatedName("macro_operand_", index, offset);
      const auto stored = generated_.setCloned(name, *bound);
      if (!stored) return fail(stored.error() == Error::OutOfMemory ? stored.error() : Error::InvalidOperand);
      return name;
    }
    if (keep || identifier == "target" || module_.typeNames().find(identifier)) return std::string(identifier);
    std::string name = generatedName("macro_missing_", index, offset);
    missing_.push_back(name);
    return name;
  }

  const value::MapValue& generated() const noexcept { return generated_; }
  std::span<const std::string> missing() const noexcept { return missing_; }

 private:
  std::span<const OperandPiece> pieces_;
  const module::Module& module_;
  value::MapValue generated_;
  std::vector<std::string> missing_;
};

// Lowering's scopes are swapped for the operand's own for the time of one
// evaluation, and put back on every path.
class ScopeSwap {
 public:
  explicit ScopeSwap(LowerContext& context) : context_(context), saved_(std::exchange(context.scopes, {})) {}
  ~ScopeSwap() { context_.scopes = std::move(saved_); }
  ScopeSwap(const ScopeSwap&) = delete;
  ScopeSwap& operator=(const ScopeSwap&) = delete;

 private:
  LowerContext& context_;
  std::vector<MetaScope> saved_;
};

qovrin::Status defineConstants(MetaScope& scope, const value::MapValue& bindings) {
  for (const value::MapEntry& entry : bindings.entries()) {
    Value copy = entry.value;
    QOVRIN_TRY(scope.define(entry.key, std::move(copy), false));
  }
  return {};
}

}  // namespace

qovrin::Result<Value> evaluateOperand(LowerContext& context, const value::OperandValue& operand,
                                      const expr::EvaluationContext& evaluation) {
  const auto pieces = operand.pieces();
  if (pieces.empty()) return fail(Error::InvalidOperand);
  const value::OperandEnvironment& written = *pieces.front().environment;
  expr::EvaluationContext at_invocation = evaluation;
  if (written.position) {
    at_invocation.offset = written.position->offset;
    at_invocation.file_cursor = written.position->file_cursor;
  }
  if (written.target) at_invocation.target = written.target;
  if (written.section) at_invocation.current_section = written.section;

  // The first piece's environment is the base of the whole operand: every
  // function that any piece calls reads what it saw.
  const ScopeSwap swap(context);
  MetaScope& base = context.scopes.emplace_back();
  QOVRIN_TRY(defineConstants(base, written.bindings));
  if (written.module_values) base.viewModuleValues(evaluation.module, written.module_values);

  const std::string text = operand.text();
  CapturedSymbolMapper mapper(pieces, evaluation.module);
  expr::ExpressionParser parser(text, [&mapper](std::string_view identifier, std::size_t offset, bool keep) {
    return mapper.map(identifier, offset, keep);
  });
  auto tree = parser.parseExpression(1);
  if (!tree) return fail(tree.error());
  if (!qovrin::trim(std::string_view(text).substr(parser.position()), "\t\n\v\f\r ").empty())
    return fail(Error::InvalidToken);

  QOVRIN_TRY(defineConstants(context.scopes.emplace_back(), mapper.generated()));
  at_invocation.blocked_names = mapper.missing();
  return expr::evaluateValue(*tree, at_invocation);
}

}  // namespace frontend::macro
