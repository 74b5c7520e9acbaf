#include "frontend/lower/notes/failure_notes.hpp"

#include <deque>

#include "frontend/lower/notes/api_call_notes.hpp"
#include "frontend/lower/notes/block_notes.hpp"
#include "frontend/lower/notes/data_kind_notes.hpp"
#include "frontend/lower/notes/declaration_notes.hpp"
#include "frontend/lower/notes/expression_notes.hpp"
#include "frontend/lower/notes/failure_asking.hpp"
#include "frontend/lower/notes/failure_dispatch.hpp"
#include "frontend/lower/notes/file_notes.hpp"
#include "frontend/lower/notes/float_notes.hpp"
#include "frontend/lower/notes/function_header_notes.hpp"
#include "frontend/lower/notes/limit_notes.hpp"
#include "frontend/lower/notes/line_notes.hpp"
#include "frontend/lower/notes/name_notes.hpp"
#include "frontend/lower/notes/nesting_notes.hpp"
#include "frontend/lower/notes/quote_notes.hpp"
#include "frontend/lower/notes/store_notes.hpp"

namespace frontend::lower::failure_notes {

using diagnostic::Note;
using failure_dispatch::Notes;
using expr::Node;
using expr::NodeKind;
using qovrin::Error;
using failure_asking::allNodes;
using failure_asking::Asking;
using failure_asking::expressionsOf;
using failure_asking::MutedDiagnostics;
using failure_asking::oneNote;

namespace {

// The notes beside a statement lowering ran, each asked of its own parts.
struct StatementTeller : failure_dispatch::Untold {
  const Asking& asking;
  const ast::Statement& statement;
  std::deque<Node> parsed{};

  std::vector<const Node*> nodes() { return allNodes(expressionsOf(statement, parsed)); }
  const ast::ApiCallStatement* call() const { return std::get_if<ast::ApiCallStatement>(&statement.payload); }

  std::vector<Note> undefinedName() { return name_notes::undefinedNotes(asking, statement.location(), nodes()); }
  std::vector<Note> duplicateName() { return name_notes::duplicateNotes(asking, statement); }
  std::vector<Note> missingFile() { return file_notes::fileNotes(asking, statement, nodes()); }
  std::vector<Note> document() { return file_notes::documentNotes(asking, nodes()); }
  std::vector<Note> digest() { return file_notes::digestNotes(asking, nodes()); }
  std::vector<Note> loopLimit() { return block_notes::loopLimitNotes(); }

  std::vector<Note> integer(Error error) {
    // A fill byte is checked before the place the padding reaches.
    if (auto notes = api_call_notes::integerNotes(asking, statement); !notes.empty()) return notes;
    if (call() != nullptr && api_call_notes::reservesOrPads(call()->name))
      return api_call_notes::placementNotes(asking, *call());
    if (error == Error::OffsetOverflow) return {};
    auto notes = file_notes::windowNotes(asking, statement, nodes());
    return notes.empty() ? declaration_notes::structLiteralNotes(asking, statement) : notes;
  }

  std::vector<Note> structLiteral() { return declaration_notes::structLiteralNotes(asking, statement); }

  std::vector<Note> typeName() {
    if (const auto* declaration = std::get_if<ast::StructDeclarationStatement>(&statement.payload))
      return declaration_notes::fieldTypeNotes(asking, *declaration);
    return declaration_notes::structLiteralNotes(asking, statement);
  }

  std::vector<Note> declaration() {
    if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload))
      return declaration_notes::annotationNotes(asking, *declaration);
    if (const auto* assignment = std::get_if<ast::AssignmentStatement>(&statement.payload))
      return declaration_notes::assignmentNotes(asking, *assignment);
    return {};
  }

  std::vector<Note> duplicateMacro() {
    if (const auto* macro = std::get_if<ast::MacroStatement>(&statement.payload))
      return name_notes::duplicateMacroNotes(asking, *macro);
    return {};
  }

  std::vector<Note> includeCycle() { return file_notes::cycleNotes(asking, statement); }

  std::vector<Note> forRange() {
    if (const auto* loop = std::get_if<ast::MetaForRangeStatement>(&statement.payload))
      return block_notes::forNotes(asking, *loop);
    return {};
  }

  std::vector<Note> arity() { return call() != nullptr ? api_call_notes::arityNotes(asking, *call()) : Notes{}; }

  std::vector<Note> expression() {
    // Told from the failure itself: asked again, a call that ran out of
    // stack may fail before it reaches the same depth.
    if (const auto& inner = asking.context.value_call_failure)
      if (auto note = root::valueCallLimitNote(*inner)) return oneNote(std::move(*note));
    if (std::holds_alternative<ast::IsaTextStatement>(statement.payload))
      if (auto quote = quote_notes::openQuoteOnLine(asking.module, asking.cursor.target, statement.location()))
        return {std::move(*quote)};
    if (auto notes = expression_notes::expressionNotes(asking, nodes()); !notes.empty()) return notes;
    return limit_notes::addressNotes(asking, nodes());
  }

  std::vector<Note> argument() {
    if (call() != nullptr)
      if (auto note = store_notes::outsideNote(asking, *call())) return failure_asking::oneNote(std::move(*note));
    return expression_notes::argumentNotes(asking, nodes());
  }

  // A condition fails for what its expression holds, told as an
  // expression's failure would be.
  std::vector<Note> condition(Error error) {
    // A condition that does not read as an expression is told as a line
    // that does not.
    if (error == Error::UnknownMetaCondition)
      if (auto notes = line_notes::parseNotes(asking.module, statement.location(), Error::InvalidExpression);
          !notes.empty())
        return notes;
    return expression_notes::expressionNotes(asking, nodes());
  }

  // An invocation's operands read as the target reads its lines.
  std::vector<Note> macroOperands() {
    if (!std::holds_alternative<ast::IsaTextStatement>(statement.payload)) return {};
    if (auto quote = quote_notes::openQuoteOnLine(asking.module, asking.cursor.target, statement.location()))
      return {std::move(*quote)};
    return limit_notes::operandCountNotes(std::get<ast::IsaTextStatement>(statement.payload).text,
                                          asking.cursor.target.strings());
  }

  std::vector<Note> nesting() { return block_notes::nestingNotes(statement); }
  std::vector<Note> expansionLimit() { return limit_notes::expansionNotes(); }
  std::vector<Note> callDepth() { return oneNote(std::string(nesting_notes::kCallDepth)); }
  std::vector<Note> captureDepth() { return oneNote(std::string(nesting_notes::kCaptureDepth)); }
  std::vector<Note> includeDepth() { return limit_notes::includeDepthNotes(asking.context); }
  std::vector<Note> outputSize() { return limit_notes::sizeNotes(asking, statement); }

  std::vector<Note> sideEffect() {
    if (auto note = function_header_notes::bodyLineNote(statement)) return failure_asking::oneNote(std::move(*note));
    return {};
  }
};

}  // namespace

std::vector<Note> statementNotes(module::Module& module, context::LowerContext& context,
                                 const contracts::ActiveOutput& cursor, const ast::Statement& statement, Error error) {
  const Asking asking{module, context, cursor};
  const MutedDiagnostics muted(module);
  if (auto note = float_notes::floatKindNote(statement, error, context.refused))
    return failure_asking::oneNote(std::move(*note));
  if (error == Error::InvalidApiArgument || error == Error::InvalidExpression)
    if (auto note = data_kind_notes::kindNote(statement, asking.evaluation()))
      return failure_asking::oneNote(std::move(*note));
  StatementTeller teller{{}, asking, statement};
  return failure_dispatch::tell(teller, error);
}

std::vector<Note> undefinedNameNotes(module::Module& module, context::LowerContext& context,
                                     const contracts::ActiveOutput& cursor, const SourceLocation& location,
                                     const expr::Node& expression) {
  const MutedDiagnostics muted(module);
  return name_notes::undefinedNotes(Asking{module, context, cursor}, location, allNodes({&expression}),
                        expression.kind() == NodeKind::identifier);
}

}  // namespace frontend::lower::failure_notes
