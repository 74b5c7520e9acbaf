#pragma once
// Which notes a failed statement gets, by its error: one dispatch for the
// statements lowering runs and for those a defer block runs later. A teller
// answers the questions it can tell something about; those it takes from
// `Untold` tell nothing.

#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/diagnostic.hpp"

namespace frontend::lower::failure_dispatch {

using Notes = std::vector<diagnostic::Note>;

struct Untold {
  Notes undefinedName() { return {}; }
  Notes duplicateName() { return {}; }
  Notes missingFile() { return {}; }
  Notes document() { return {}; }
  Notes digest() { return {}; }
  Notes loopLimit() { return {}; }
  Notes integer(qovrin::Error) { return {}; }
  Notes structLiteral() { return {}; }
  Notes typeName() { return {}; }
  Notes declaration() { return {}; }
  Notes duplicateMacro() { return {}; }
  Notes includeCycle() { return {}; }
  Notes forRange() { return {}; }
  Notes arity() { return {}; }
  Notes expression() { return {}; }
  Notes argument() { return {}; }
  Notes condition(qovrin::Error) { return {}; }
  Notes nesting() { return {}; }
  Notes expansionLimit() { return {}; }
  Notes callDepth() { return {}; }
  Notes captureDepth() { return {}; }
  Notes macroOperands() { return {}; }
  Notes includeDepth() { return {}; }
  Notes outputSize() { return {}; }
  Notes sideEffect() { return {}; }
  Notes arithmetic() { return {}; }
};

template <typename Teller>
Notes tell(Teller& teller, qovrin::Error error) {
  using qovrin::Error;
  switch (error) {
    case Error::UndefinedSymbol:
      return teller.undefinedName();
    case Error::DuplicateSymbol:
      return teller.duplicateName();
    case Error::IncludeNotAvailable:
    case Error::FileNotAvailable:
      return teller.missingFile();
    case Error::SyntaxError:
    case Error::Syntax:
    case Error::UnexpectedEndOfInput:
    case Error::Overflow:
      return teller.document();
    case Error::ReadFailed:
      return teller.digest();
    case Error::MetaLoopLimitExceeded:
      return teller.loopLimit();
    case Error::InvalidApiInteger:
    case Error::OffsetOverflow:
      return teller.integer(error);
    case Error::UnknownField:
    case Error::MissingStructFieldValue:
      return teller.structLiteral();
    case Error::UnknownTypeName:
      return teller.typeName();
    case Error::InvalidValueDeclaration:
      return teller.declaration();
    case Error::DuplicateMacro:
      return teller.duplicateMacro();
    case Error::IncludeCycle:
      return teller.includeCycle();
    case Error::InvalidMetaFor:
      return teller.forRange();
    case Error::InvalidApiArity:
      return teller.arity();
    case Error::InvalidExpression:
      return teller.expression();
    case Error::InvalidApiArgument:
      return teller.argument();
    case Error::UnknownMetaCondition:
    case Error::InvalidMetaIf:
    case Error::InvalidMetaWhile:
      return teller.condition(error);
    case Error::NestingTooDeep:
      return teller.nesting();
    case Error::MacroExpansionLimitExceeded:
      return teller.expansionLimit();
    case Error::MetaCallDepthExceeded:
      return teller.callDepth();
    case Error::MacroCaptureDepthExceeded:
      return teller.captureDepth();
    case Error::InvalidMacroOperands:
      return teller.macroOperands();
    case Error::IncludeTooDeep:
      return teller.includeDepth();
    case Error::OutputTooLarge:
      return teller.outputSize();
    case Error::SideEffectInValueFunction:
      return teller.sideEffect();
    case Error::InvalidNumber:
      return teller.arithmetic();
    default:
      return {};
  }
}

}  // namespace frontend::lower::failure_dispatch
