#include "frontend/lower/value_binding.hpp"

#include <algorithm>
#include <string>

#include "common/ascii.hpp"
#include "frontend/lower/deferred.hpp"
#include "frontend/lower/notes/failure_notes.hpp"
#include "frontend/values/type_name.hpp"

namespace frontend::lower::value_binding {

using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::size_t kShownExpressionBytes = 120;

// Whether value is a call such as map.set(name, ...) whose result replaces
// its first argument.
bool replacesFirstArgument(const expr::Node& value) noexcept {
  return expr::handsBackFirstArgument(value) && !value.arguments().empty();
}

}  // namespace

void reportUndefinedSymbol(module::Module& module, const SourceLocation& location, std::string_view text,
                           std::span<const diagnostic::Note> notes) {
  const auto& diagnostics = module.diagnostics().diagnostics();
  const bool reported = std::ranges::any_of(diagnostics, [&](const diagnostic::Diagnostic& diagnostic) {
    return diagnostic.location.span.source == location.span.source &&
           diagnostic.location.span.start == location.span.start;
  });
  if (reported) return;
  const std::string_view shown = qovrin::trim(text, " \t\r\n").substr(0, kShownExpressionBytes);
  std::string message = "undefined name in this expression: ";
  message += shown;
  module.diagnostics().addWithNotes(diagnostic::Severity::error, location, message, notes);
}

qovrin::Result<value::Value> lowerInitializerReporting(module::Module& module, context::LowerContext& context,
                                                       const contracts::ActiveOutput& cursor,
                                                       const ast::StructLiteralValue& initializer,
                                                       const SourceLocation& location,
                                                       const aggregate_literal::Evaluators& evaluators) {
  const bool literal = ast::isStructLiteral(initializer);
  auto result = literal ? aggregate_literal::structValueFromLiteral(module, context, cursor,
                                                                    ast::structLiteralOf(initializer), evaluators)
                        : evaluators.value(module, context, cursor, ast::expressionOf(initializer));
  if (result || result.error() != Error::UndefinedSymbol) return result;
  if (literal) {
    reportUndefinedSymbol(module, location, "struct literal");
    return fail(Error::FrontendDiagnostics);
  }
  const expr::Node& expression = ast::expressionOf(initializer);
  reportUndefinedSymbol(module, location, deferred::renderExpressionSource(expression),
                        failure_notes::undefinedNameNotes(module, context, cursor, location, expression));
  return fail(Error::FrontendDiagnostics);
}

expr::Handover localHandover(context::LowerContext& context, std::string_view name, const expr::Node& value) {
  if (!replacesFirstArgument(value)) return {};
  const auto local = context::lookupMutableLocalValue(context, name);
  if (local.state != context::MutableLookup::found) return {};
  return {&value, name, local.value};
}

expr::Handover assignmentHandover(module::Module& module, context::LowerContext& context,
                                  const ast::AssignmentStatement& assignment) {
  if (ast::isStructLiteral(assignment.value)) return {};
  const expr::Node& call = ast::expressionOf(assignment.value);
  const std::string_view name = assignment.target;
  if (!replacesFirstArgument(call)) return {};
  const auto local = context::lookupMutableLocalValue(context, name);
  if (local.state == context::MutableLookup::found) return {&call, name, local.value};
  // A module value is what the name reads only when no local and no type
  // takes the name first; and a value function may not assign it at all.
  if (local.state != context::MutableLookup::not_found || context.value_function_depth > 0 ||
      type_name::namesType(module.typeNames(), name))
    return {};
  symbol::Symbol* symbol = module.findSymbol(name);
  symbol::ValueSymbol* bound = symbol == nullptr ? nullptr : symbol->value();
  if (bound == nullptr || !bound->is_mutable) return {};
  return {&call, name, &module.writableValue(*bound)};
}

}  // namespace frontend::lower::value_binding
