#include "frontend/lower/notes/failure_notes.hpp"

#include <deque>

#include "frontend/lower/notes/api_call_notes.hpp"
#include "frontend/lower/notes/block_notes.hpp"
#include "frontend/lower/notes/data_kind_notes.hpp"
#include "frontend/lower/notes/declaration_notes.hpp"
#include "frontend/lower/notes/expression_notes.hpp"
#include "frontend/lower/notes/failure_asking.hpp"
#include "frontend/lower/notes/file_notes.hpp"
#include "frontend/lower/notes/float_notes.hpp"
#include "frontend/lower/notes/function_header_notes.hpp"
#include "frontend/lower/notes/limit_notes.hpp"
#include "frontend/lower/notes/line_notes.hpp"
#include "frontend/lower/notes/name_notes.hpp"
#include "frontend/lower/notes/quote_notes.hpp"
#include "frontend/lower/notes/store_notes.hpp"

namespace frontend::lower::failure_notes {

using diagnostic::Note;
using expr::Node;
using expr::NodeKind;
using qovrin::Error;
using failure_asking::allNodes;
using failure_asking::Asking;
using failure_asking::expressionsOf;
using failure_asking::MutedDiagnostics;

std::vector<Note> statementNotes(module::Module& module, context::LowerContext& context,
                                 const contracts::ActiveOutput& cursor, const ast::Statement& statement, Error error) {
  const Asking asking{module, context, cursor};
  const MutedDiagnostics muted(module);
  std::deque<Node> parsed;
  if (auto note = float_notes::floatKindNote(statement, error, context.refused))
    return failure_asking::oneNote(std::move(*note));
  if (error == Error::InvalidApiArgument || error == Error::InvalidExpression)
    if (auto note = data_kind_notes::kindNote(statement, asking.evaluation()))
      return failure_asking::oneNote(std::move(*note));
  switch (error) {
    case Error::UndefinedSymbol:
      return name_notes::undefinedNotes(asking, statement.location(), allNodes(expressionsOf(statement, parsed)));
    case Error::DuplicateSymbol:
      return name_notes::duplicateNotes(asking, statement);
    case Error::IncludeNotAvailable:
    case Error::FileNotAvailable:
      return file_notes::fileNotes(asking, statement, allNodes(expressionsOf(statement, parsed)));
    case Error::SyntaxError:
    case Error::Syntax:
    case Error::UnexpectedEndOfInput:
    case Error::Overflow:
      return file_notes::documentNotes(asking, allNodes(expressionsOf(statement, parsed)));
    case Error::ReadFailed:
      return file_notes::digestNotes(asking, allNodes(expressionsOf(statement, parsed)));
    case Error::MetaLoopLimitExceeded:
      return block_notes::loopLimitNotes();
    case Error::InvalidApiInteger:
    case Error::OffsetOverflow: {
      // A fill byte is checked before the place the padding reaches.
      if (auto notes = api_call_notes::integerNotes(asking, statement); !notes.empty()) return notes;
      const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
      if (call != nullptr && api_call_notes::reservesOrPads(call->name))
        return api_call_notes::placementNotes(asking, *call);
      if (error == Error::OffsetOverflow) return {};
      auto notes = file_notes::windowNotes(asking, statement, allNodes(expressionsOf(statement, parsed)));
      return notes.empty() ? declaration_notes::structLiteralNotes(asking, statement) : notes;
    }
    case Error::UnknownField:
    case Error::MissingStructFieldValue:
      return declaration_notes::structLiteralNotes(asking, statement);
    case Error::UnknownTypeName:
      if (const auto* declaration = std::get_if<ast::StructDeclarationStatement>(&statement.payload))
        return declaration_notes::fieldTypeNotes(asking, *declaration);
      return declaration_notes::structLiteralNotes(asking, statement);
    case Error::InvalidValueDeclaration:
      if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload))
        return declaration_notes::annotationNotes(asking, *declaration);
      if (const auto* assignment = std::get_if<ast::AssignmentStatement>(&statement.payload))
        return declaration_notes::assignmentNotes(asking, *assignment);
      return {};
    case Error::DuplicateMacro:
      if (const auto* macro = std::get_if<ast::MacroStatement>(&statement.payload))
        return name_notes::duplicateMacroNotes(asking, *macro);
      return {};
    case Error::IncludeCycle:
      return file_notes::cycleNotes(asking, statement);
    case Error::InvalidMetaFor:
      if (const auto* loop = std::get_if<ast::MetaForRangeStatement>(&statement.payload))
        return block_notes::forNotes(asking, *loop);
      return {};
    case Error::InvalidApiArity:
      if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload))
        return api_call_notes::arityNotes(asking, *call);
      return {};
    case Error::InvalidExpression:
      if (std::holds_alternative<ast::IsaTextStatement>(statement.payload))
        if (auto quote = quote_notes::openQuoteOnLine(module, cursor.target, statement.location()))
          return {std::move(*quote)};
      if (auto notes = expression_notes::expressionNotes(asking, allNodes(expressionsOf(statement, parsed)));
          !notes.empty())
        return notes;
      return limit_notes::addressNotes(asking, allNodes(expressionsOf(statement, parsed)));
    case Error::InvalidApiArgument:
      if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload))
        if (auto note = store_notes::outsideNote(asking, *call)) return failure_asking::oneNote(std::move(*note));
      return expression_notes::argumentNotes(asking, allNodes(expressionsOf(statement, parsed)));
    // A condition fails for what its expression holds, told as an
    // expression's failure would be.
    case Error::UnknownMetaCondition:
      // A condition that does not read as an expression is told as a line
      // that does not.
      if (auto notes = line_notes::parseNotes(module, statement.location(), Error::InvalidExpression); !notes.empty())
        return notes;
      [[fallthrough]];
    case Error::InvalidMetaIf:
    case Error::InvalidMetaWhile:
      return expression_notes::expressionNotes(asking, allNodes(expressionsOf(statement, parsed)));
    case Error::NestingTooDeep:
      return block_notes::nestingNotes(statement);
    case Error::MacroExpansionLimitExceeded:
      return limit_notes::expansionNotes();
    case Error::IncludeTooDeep:
      return limit_notes::includeDepthNotes(context);
    case Error::OutputTooLarge:
      return limit_notes::sizeNotes(asking, statement);
    case Error::SideEffectInValueFunction:
      if (auto note = function_header_notes::bodyLineNote(statement)) return failure_asking::oneNote(std::move(*note));
      return {};
    default:
      return {};
  }
}

std::vector<Note> undefinedNameNotes(module::Module& module, context::LowerContext& context,
                                     const contracts::ActiveOutput& cursor, const SourceLocation& location,
                                     const expr::Node& expression) {
  const MutedDiagnostics muted(module);
  return name_notes::undefinedNotes(Asking{module, context, cursor}, location, allNodes({&expression}),
                        expression.kind() == NodeKind::identifier);
}

}  // namespace frontend::lower::failure_notes
