// The statement switch and the slice loop that reports each failure once.

#include "frontend/lower/statement_lowering.hpp"

#include <new>
#include <string_view>

#include "common/work_stack.hpp"
#include "frontend/lower/meta_function_runtime.hpp"
#include "frontend/lower/notes/failure_notes.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/lower/statement_cases.hpp"
#include "frontend/lower/macro.hpp"

namespace frontend::lower::root {

using qovrin::Error;
using qovrin::fail;
using statement_cases::Lowering;

namespace {

// Failures that are either signals or already reported.
bool passesUnreported(Error error) noexcept {
  return error == Error::FrontendDiagnostics || error == Error::MetaFunctionReturned ||
         error == Error::MetaLoopBreak || error == Error::MetaLoopContinue;
}

bool errorReportedSince(const module::Module& module, std::size_t first) noexcept {
  const auto& diagnostics = module.diagnostics().diagnostics();
  for (std::size_t index = first; index < diagnostics.size(); ++index)
    if (diagnostics[index].severity == diagnostic::Severity::error) return true;
  return false;
}

qovrin::Status refuseInValueFunction(const context::LowerContext& context) noexcept {
  if (context.value_function_depth > 0) return fail(Error::SideEffectInValueFunction);
  return {};
}

qovrin::Status lowerStatement(Lowering& lowering, const ast::Statement& statement) {
  using ast::StatementKind;
  const auto& payload = statement.payload;
  context::LowerContext& context = lowering.context;
  switch (statement.kind()) {
    case StatementKind::label:
      return statement_cases::lowerLabel(lowering, std::get<ast::LabelStatement>(payload));
    case StatementKind::isa_text: {
      QOVRIN_TRY(refuseInValueFunction(context));
      const auto& line = std::get<ast::IsaTextStatement>(payload);
      // Most sources define no macro: their lines need no name lookup.
      if (!context.macros.empty()) {
        const auto expanded = macro::dispatch(lowering.module, lowering.cursor, lowering.active_outputs, line.text,
                                              line.location, context);
        if (!expanded) return fail(expanded.error());
        if (*expanded) return {};
      }
      return statement_cases::lowerInstructionLine(lowering, line);
    }
    case StatementKind::value_declaration:
      return statement_cases::lowerValueDeclaration(lowering, std::get<ast::ValueDeclarationStatement>(payload));
    case StatementKind::assignment:
      return statement_cases::lowerAssignment(lowering, std::get<ast::AssignmentStatement>(payload));
    case StatementKind::struct_declaration:
      return statement_cases::lowerStructDeclaration(lowering, std::get<ast::StructDeclarationStatement>(payload));
    case StatementKind::api_call:
      return statement_cases::lowerApiCallStatement(lowering, std::get<ast::ApiCallStatement>(payload));
    case StatementKind::meta_if:
      return statement_cases::lowerIf(lowering, std::get<ast::MetaIfStatement>(payload));
    case StatementKind::meta_while:
      return statement_cases::lowerWhile(lowering, std::get<ast::MetaWhileStatement>(payload));
    case StatementKind::meta_for:
      return statement_cases::lowerFor(lowering, std::get<ast::MetaForRangeStatement>(payload));
    case StatementKind::break_loop:
      return statement_cases::lowerLoopSignal(lowering, statement.location(), true);
    case StatementKind::continue_loop:
      return statement_cases::lowerLoopSignal(lowering, statement.location(), false);
    case StatementKind::meta_function:
      return meta_function_runtime::defineMetaFunction(lowering.module, context,
                                                       std::get<ast::MetaFunctionStatement>(payload));
    case StatementKind::macro:
      return meta_function_runtime::defineMacro(context, std::get<ast::MacroStatement>(payload));
    case StatementKind::meta_return:
      return statement_cases::lowerReturn(lowering, std::get<ast::ReturnStatement>(payload));
    case StatementKind::block:
      return lowerScopedStatementSlice(lowering.module, lowering.cursor, lowering.active_outputs,
                                       std::get<ast::BlockStatement>(payload).body, context);
    case StatementKind::defer_block:
      QOVRIN_TRY(refuseInValueFunction(context));
      if (!lowering.active_outputs.empty()) return fail(Error::InvalidMetaDefer);
      return statement_cases::lowerDeferBlock(lowering, std::get<ast::DeferStatement>(payload));
    case StatementKind::late_layout_block:
      QOVRIN_TRY(refuseInValueFunction(context));
      if (!lowering.active_outputs.empty()) return fail(Error::InvalidLateLayout);
      return statement_cases::lowerLateLayoutBlock(lowering, std::get<ast::LateLayoutStatement>(payload));
  }
  return fail(Error::InvalidMetaStatement);
}

// A failed allocation anywhere in the statement is its failure like any
// other, so the run ends with a located diagnostic instead of an abort.
qovrin::Status lowerStatementCatchingExhaustion(Lowering& lowering, const ast::Statement& statement) {
  try {
    return lowerStatement(lowering, statement);
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

// With memory exhausted the diagnostic may not fit either; the failure then
// travels on unreported and the driver names it.
void reportFailure(Lowering& lowering, const ast::Statement& statement, Error error) {
  try {
    addLowerErrorDiagnostic(
        lowering.module, statement.location(), error,
        failure_notes::statementNotes(lowering.module, lowering.context, lowering.cursor, statement, error));
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

qovrin::Status lowerStatementSlice(module::Module& module, contracts::ActiveOutput& cursor,
                                   ActiveOutputStack& active_outputs, std::span<const ast::Statement> statements,
                                   context::LowerContext& context) {
  // Blocks, includes, macros and calls all come back here one level deeper.
  if (qovrin::workStackFull()) return fail(Error::NestingTooDeep);
  Lowering lowering{module, cursor, active_outputs, context};
  for (const ast::Statement& statement : statements) {
    const std::size_t diagnostics_before = module.diagnostics().diagnostics().size();
    context.value_call_failure.reset();
    const auto lowered = lowerStatementCatchingExhaustion(lowering, statement);
    if (lowered) continue;
    const Error error = lowered.error();
    if (!passesUnreported(error) && !errorReportedSince(module, diagnostics_before))
      reportFailure(lowering, statement, error);
    return lowered;
  }
  return {};
}

qovrin::Status lowerScopedStatementSlice(module::Module& module, contracts::ActiveOutput& cursor,
                                         ActiveOutputStack& active_outputs, std::span<const ast::Statement> statements,
                                         context::LowerContext& context) {
  const context::ScopeGuard scope(context);
  return lowerStatementSlice(module, cursor, active_outputs, statements, context);
}

}  // namespace frontend::lower::root

namespace frontend::lower::statement_cases {

qovrin::Status reportAndFail(module::Module& module, const SourceLocation& location, std::string_view message) {
  module.diagnostics().add(diagnostic::Severity::error, location, message);
  return qovrin::fail(qovrin::Error::FrontendDiagnostics);
}

}  // namespace frontend::lower::statement_cases
