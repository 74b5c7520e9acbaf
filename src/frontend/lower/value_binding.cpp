#include "frontend/lower/value_binding.hpp"

#include <algorithm>
#include <string>

#include "common/ascii.hpp"
#include "frontend/lower/deferred.hpp"

namespace frontend::lower::value_binding {

using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::size_t kShownExpressionBytes = 120;

}  // namespace

void reportUndefinedSymbol(module::Module& module, const SourceLocation& location, std::string_view text) {
  const auto& diagnostics = module.diagnostics().diagnostics();
  const bool reported = std::ranges::any_of(diagnostics, [&](const diagnostic::Diagnostic& diagnostic) {
    return diagnostic.location.span.source == location.span.source &&
           diagnostic.location.span.start == location.span.start;
  });
  if (reported) return;
  const std::string_view shown = qovrin::trim(text, " \t\r\n").substr(0, kShownExpressionBytes);
  std::string message = "undefined name in this expression: ";
  message += shown;
  module.diagnostics().add(diagnostic::Severity::error, location, message);
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
  const std::string text =
      literal ? std::string("struct literal") : deferred::renderExpressionSource(ast::expressionOf(initializer));
  reportUndefinedSymbol(module, location, text);
  return fail(Error::FrontendDiagnostics);
}

}  // namespace frontend::lower::value_binding
