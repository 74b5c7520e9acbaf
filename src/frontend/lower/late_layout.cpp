#include "frontend/lower/late_layout.hpp"

#include <optional>
#include <string>
#include <utility>

#include "frontend/lower/api.hpp"
#include "frontend/lower/notes/failure_notes.hpp"
#include "frontend/lower/meta_condition.hpp"
#include "frontend/syntax/parser.hpp"

namespace frontend::lower::late_layout {

using output::contracts::LateLayoutCall;
using output::contracts::LateLayoutConditional;
using output::contracts::LateLayoutStatement;
using output::contracts::LateLayoutStatementList;
using qovrin::Error;
using qovrin::fail;

namespace {

qovrin::Result<LateLayoutStatement> cloneStatement(const ast::Statement& statement, const FreezeCallbacks& callbacks) {
  switch (statement.kind()) {
    case ast::StatementKind::api_call: {
      const auto& call = std::get<ast::ApiCallStatement>(statement.payload);
      if (!callbacks.allowed(call.name)) return fail(Error::InvalidLateLayout);
      return LateLayoutStatement{LateLayoutCall{call.call_text, call.location}};
    }
    case ast::StatementKind::meta_if: {
      const auto& branch = std::get<ast::MetaIfStatement>(statement.payload);
      auto then_statements = cloneStatementSlice(branch.then_statements, callbacks);
      if (!then_statements) return fail(then_statements.error());
      auto else_statements = cloneStatementSlice(branch.else_statements, callbacks);
      if (!else_statements) return fail(else_statements.error());
      return LateLayoutStatement{
          LateLayoutConditional{branch.condition, std::move(*then_statements), std::move(*else_statements),
                                branch.location}};
    }
    default:
      return fail(Error::InvalidLateLayout);
  }
}

}  // namespace

qovrin::Result<LateLayoutStatementList> cloneStatementSlice(std::span<const ast::Statement> statements,
                                                            const FreezeCallbacks& callbacks) {
  LateLayoutStatementList list;
  list.reserve(statements.size());
  for (const ast::Statement& statement : statements) {
    auto copied = cloneStatement(statement, callbacks);
    if (!copied) return fail(copied.error());
    list.push_back(std::move(*copied));
  }
  return list;
}

qovrin::Status freezeStatementAppend(module::Module& module, context::LowerContext& context,
                                     const contracts::ActiveOutput& cursor, const ast::Statement& statement,
                                     LateLayoutStatementList& out, const FreezeCallbacks& callbacks) {
  switch (statement.kind()) {
    case ast::StatementKind::api_call: {
      const auto& call = std::get<ast::ApiCallStatement>(statement.payload);
      if (!callbacks.allowed(call.name)) return fail(Error::InvalidLateLayout);
      // No here() address and no captures: here() reads the position when the
      // block runs, and a local without a literal form cannot travel.
      deferred::Freezer freezer{context};
      auto text = deferred::freezeApiCallText(freezer, call);
      if (!text) return fail(text.error());
      out.push_back(LateLayoutStatement{LateLayoutCall{std::move(*text), call.location}});
      return {};
    }
    case ast::StatementKind::meta_if: {
      const auto& branch = std::get<ast::MetaIfStatement>(statement.payload);
      const auto truth = callbacks.condition(module, context, cursor, branch.condition);
      if (!truth) return fail(truth.error());
      for (const ast::Statement& chosen : *truth ? branch.then_statements : branch.else_statements)
        QOVRIN_TRY(freezeStatementAppend(module, context, cursor, chosen, out, callbacks));
      return {};
    }
    default:
      return fail(Error::InvalidLateLayout);
  }
}

namespace {

// What the notes of a failed call statement say first, asked of the call
// parsed again.
std::optional<std::string> callCause(module::Module& module, context::LowerContext& context,
                                     const contracts::ActiveOutput& cursor, const LateLayoutCall& call, Error error) {
  auto parsed = parser::parseApiCall(call.text, call.location);
  if (!parsed) return std::nullopt;
  const ast::Statement statement(std::move(*parsed));
  const auto notes = failure_notes::statementNotes(module, context, cursor, statement, error);
  if (notes.empty()) return std::nullopt;
  return notes.front().message;
}

}  // namespace

qovrin::Status runStatements(module::Module& module, contracts::ActiveOutput& cursor,
                             root::ActiveOutputStack& active_outputs, context::LowerContext& context,
                             std::span<const LateLayoutStatement> statements, const LateLayoutCallbacks& callbacks,
                             std::optional<SourceLocation>* failed_at, std::optional<std::string>* failed_cause) {
  // The innermost failing statement is the one to name; the lists around it
  // leave the place alone.
  const auto failedHere = [failed_at](const SourceLocation& location, qovrin::Error error) {
    if (failed_at != nullptr && !*failed_at) *failed_at = location;
    return fail(error);
  };
  for (const LateLayoutStatement& statement : statements) {
    if (const auto* call = std::get_if<LateLayoutCall>(&statement.payload)) {
      const qovrin::Status ran = callbacks.api_call(module, cursor, active_outputs, context, *call);
      // An image grown past its cap is the call's fault: it is named at the
      // call's line, as during lowering.
      if (!ran && ran.error() == Error::OutputTooLarge) {
        root::addLowerErrorDiagnostic(module, call->location, ran.error());
        return fail(Error::FrontendDiagnostics);
      }
      if (!ran && failed_cause != nullptr && !*failed_cause)
        *failed_cause = callCause(module, context, cursor, *call, ran.error());
      if (!ran) return failedHere(call->location, ran.error());
      continue;
    }
    const auto& conditional = std::get<LateLayoutConditional>(statement.payload);
    const contracts::ActiveOutput position = cursor;
    const auto truth = callbacks.condition(module, context, position, conditional.condition);
    if (!truth) return failedHere(conditional.location, truth.error());
    const auto ran = runStatements(module, cursor, active_outputs, context,
                                   *truth ? conditional.then_statements : conditional.else_statements, callbacks,
                                   failed_at, failed_cause);
    if (!ran) return failedHere(conditional.location, ran.error());
  }
  return {};
}

}  // namespace frontend::lower::late_layout

namespace frontend::lower::root {

qovrin::Result<bool> evalLateLayoutCondition(module::Module& module, context::LowerContext& context,
                                             const contracts::ActiveOutput& cursor, std::string_view text) {
  return evalMetaCondition(module, context, cursor, text);
}

qovrin::Status runLateLayoutApiCall(module::Module& module, contracts::ActiveOutput& cursor,
                                    ActiveOutputStack& active_outputs, context::LowerContext& context,
                                    const output::contracts::LateLayoutCall& call) {
  const auto parsed = parser::parseApiCall(call.text, call.location);
  if (!parsed) return fail(parsed.error());
  return api::lowerApiCall(module, cursor, active_outputs, *parsed, context);
}

}  // namespace frontend::lower::root
