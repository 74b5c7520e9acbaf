// Expanding a macro invocation: choosing the definition by operand count,
// capturing the operands, and lowering the body where the line stands.

#include <string>

#include "common/ascii.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/lower/macro.hpp"
#include "frontend/syntax/lexer.hpp"
#include "frontend/values/operand_text.hpp"

namespace frontend::macro {

using lower::context::LowerContext;
using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {


void reportArityMismatch(module::Module& module, const SourceLocation& location, std::string_view name,
                         std::size_t operand_count) {
  std::string message = "MacroArityMismatch: macro '";
  message += name;
  message += "' does not accept ";
  message += std::to_string(operand_count);
  message += " operands";
  module.diagnostics().add(diagnostic::Severity::error, location, message);
}

// One value per parameter: an operand for a fixed one, a list of operands for
// the variadic last one.
qovrin::Result<std::vector<Value>> parameterValues(LowerContext& context, const MacroEntry& entry,
                                                   const EnvironmentRef& environment,
                                                   std::span<const std::string_view> operands) {
  const std::size_t params = entry.statement.params.size();
  const std::size_t fixed = entry.variadic ? params - 1 : params;
  std::vector<Value> values;
  values.reserve(params);
  for (std::size_t index = 0; index < fixed; ++index) {
    auto operand = capture(context, environment, operands[index]);
    if (!operand) return fail(operand.error());
    values.emplace_back(std::move(*operand));
  }
  if (!entry.variadic) return values;
  value::ListValue rest;
  rest.reserve(operands.size() - fixed);
  for (std::size_t index = fixed; index < operands.size(); ++index) {
    auto operand = capture(context, environment, operands[index]);
    if (!operand) return fail(operand.error());
    QOVRIN_TRY(rest.push(Value(std::move(*operand))));
  }
  values.emplace_back(std::move(rest));
  return values;
}

// Puts back what an expansion changes in the context and the diagnostics
// store, on every way out.
class ExpansionFrame {
 public:
  ExpansionFrame(LowerContext& context, diagnostic::DiagnosticStore& diagnostics, std::uint32_t expansion)
      : context_(context),
        diagnostics_(diagnostics),
        previous_(diagnostics.currentExpansion()),
        in_loop_(context.in_loop) {
    diagnostics_.setCurrentExpansion(expansion);
  }
  ExpansionFrame(const ExpansionFrame&) = delete;
  ExpansionFrame& operator=(const ExpansionFrame&) = delete;

  // From here on the body runs: one call deeper, outside any loop.
  void enterBody() {
    ++context_.meta_call_depth;
    ++context_.expansion_count;
    context_.in_loop = false;
    entered_ = true;
  }

  ~ExpansionFrame() {
    if (entered_) {
      --context_.meta_call_depth;
      context_.in_loop = in_loop_;
    }
    diagnostics_.setCurrentExpansion(previous_);
  }

 private:
  LowerContext& context_;
  diagnostic::DiagnosticStore& diagnostics_;
  std::optional<std::uint32_t> previous_;
  bool in_loop_;
  bool entered_ = false;
};

}  // namespace

std::size_t firstWordEnd(std::string_view text) noexcept {
  std::size_t end = 0;
  while (end < text.size() && !qovrin::isOneOf(text[end], "\t\n\v\f\r ") && text[end] != '(') ++end;
  return end;
}

qovrin::Result<bool> dispatch(module::Module& module, lower::contracts::ActiveOutput& cursor,
                              std::vector<lower::contracts::ActiveOutput>& active_outputs, std::string_view text,
                              const SourceLocation& location, LowerContext& context) {
  const std::size_t name_end = firstWordEnd(text);
  const std::string_view name = text.substr(0, name_end);
  if (!context.macros.contains(name)) return false;
  // An instruction line keeps its text through the later of two comment
  // cuts, SPIR-V's and every other target's, as the parser cannot tell which
  // target will read it: the invocation is cut again as its target reads it.
  text = lexer::textBeforeComment(text, cursor.target.strings());
  if (cursor.target.isa == target::Isa::riscv) text = qovrin::trimEnd(text.substr(0, lexer::riscvCommentStart(text)), " \t");
  if (context.value_function_depth > 0) return fail(Error::SideEffectInValueFunction);
  if (context.meta_call_depth >= kMaxMetaCallDepth) return fail(Error::MetaCallDepthExceeded);
  if (context.expansion_count >= kMaxExpansions) return fail(Error::MacroExpansionLimitExceeded);

  const auto operands = operand_text::splitOperands(text.substr(name_end), cursor.target.strings());
  if (!operands) return fail(operands.error());
  const MacroEntry* entry = context.macros.select(name, operands->size());
  if (entry == nullptr) {
    reportArityMismatch(module, location, name, operands->size());
    return fail(Error::MacroArityMismatch);
  }

  const auto expansion = module.diagnostics().beginExpansion(location.span, entry->statement.location);
  if (!expansion) return fail(expansion.error());
  ExpansionFrame frame(context, module.diagnostics(), *expansion);

  auto environment = lower::context::captureOperandEnvironment(context, module);
  if (!environment) return fail(environment.error());
  (*environment)->position = value::OperandPosition{cursor.offset, cursor.file_cursor};
  (*environment)->target = cursor.target;
  (*environment)->section = cursor.section;
  const EnvironmentRef shared = std::move(*environment);

  auto values = parameterValues(context, *entry, shared, *operands);
  if (!values) return fail(values.error());

  frame.enterBody();
  const lower::context::ScopeGuard scope(context);
  for (std::size_t index = 0; index < values->size(); ++index)
    QOVRIN_TRY(lower::context::defineLocalValue(context, entry->statement.params[index].name,
                                                std::move((*values)[index]), false,
                                                lower::context::LocalKind::macro_parameter));
  QOVRIN_TRY(lower::root::lowerStatementSlice(module, cursor, active_outputs, entry->statement.body, context));
  return true;
}

}  // namespace frontend::macro
