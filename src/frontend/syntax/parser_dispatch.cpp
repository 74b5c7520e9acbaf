// Which parser a statement goes to, bare "{" blocks, and the reading of bodies.

#include "common/work_stack.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/syntax/parser_support.hpp"

namespace frontend::parser {

using lexer::LineKind;
using lexer::SourceLine;
using qovrin::Error;
using qovrin::fail;
using namespace support;

namespace {

bool looksLikeStructStart(std::string_view trimmed) {
  return trimmed.starts_with("struct ") || trimmed.starts_with("union ") || trimmed.starts_with("packed struct ") ||
         trimmed.starts_with("packed union ");
}

// "} else {" where no if block is open reads as instruction text; it is the
// end of a block that was closed already. One byte is looked at on other lines.
bool opensStrayElse(std::string_view text) noexcept {
  std::size_t first = 0;
  while (first < text.size() && (text[first] == ' ' || text[first] == '\t')) ++first;
  if (first == text.size() || text[first] != '}') return false;
  return trimBlanks(text.substr(first + 1)).starts_with("else");
}

}  // namespace

void Parser::setErrorLocation(const SourceLocation& location) noexcept {
  error_location_ = location;
  ++located_failures_;
}

qovrin::Status Parser::checkNesting(const SourceLine& header) noexcept {
  // A body is copied and released whole, later and from wherever it runs.
  if (depth_ < kMaxNesting && qovrin::workStackHoldsLevels(depth_ + 1) && !qovrin::workStackFull()) return {};
  setErrorLocation(header.location);
  return fail(Error::NestingTooDeep);
}

qovrin::Result<ast::StatementList> Parser::parseSource() {
  ast::StatementList statements;
  while (!lexer_.atEnd()) {
    const auto line = lexer_.next();
    if (!line) return fail(line.error());
    QOVRIN_TRY(appendExecutableStatement(statements, *line));
  }
  return statements;
}

qovrin::Status Parser::appendExecutableStatement(ast::StatementList& list, const SourceLine& line) {
  return locateFailure(line, [&] { return dispatchStatement(list, line); });
}

qovrin::Result<std::optional<std::string>> Parser::joinStatement(const SourceLine& line) {
  const auto needs_signature = metaFunctionSignatureNeedsContinuation(line);
  if (!needs_signature) return fail(needs_signature.error());
  if (*needs_signature) {
    auto signature = collectMetaFunctionSignature(line);
    if (!signature) return fail(signature.error());
    return std::optional<std::string>(std::move(*signature));
  }
  if (statementCanContinue(line)) return collectContinuedStatement(line);
  return std::optional<std::string>();
}

qovrin::Status Parser::dispatchStatement(ast::StatementList& list, const SourceLine& line) {
  // Instruction text never goes on over further lines, and it is nearly
  // every line of a large source.
  if (line.kind == LineKind::isa_text) {
    if (!opensStrayElse(line.text)) return appendOwnedText(list, line);
    setErrorLocation(line.location);
    return fail(Error::InvalidMetaStatement);
  }
  if (line.kind == LineKind::call) {
    const auto appended = appendPlainCall(list, line);
    if (!appended || *appended) return appended ? qovrin::Status{} : fail(appended.error());
  }
  // The joined text lives until the statement parser has returned; parsers
  // copy what they keep.
  auto joined = joinStatement(line);
  if (!joined) return fail(joined.error());
  SourceLine statement = line;
  if (*joined) statement.text = **joined;

  switch (statement.kind) {
    case LineKind::blank:
    case LineKind::comment:
      return {};
    case LineKind::label: {
      const std::string_view text = statement.text;
      if (text.size() < 2 || !text.ends_with(':')) return fail(Error::InvalidLabel);
      return ast::append(list, ast::LabelStatement{std::string(text.substr(0, text.size() - 1)), statement.location});
    }
    case LineKind::isa_text:
      return appendOwnedText(list, statement);
    case LineKind::call:
      return appendApiCall(list, statement);
    case LineKind::legacy_directive:
      setErrorLocation(statement.location);
      return fail(Error::LegacyDirectiveSyntax);
    case LineKind::meta:
      return dispatchMeta(list, statement);
    case LineKind::open_brace:
      return appendMetaBlockStatement(list, statement);
    case LineKind::close_brace:
      setErrorLocation(statement.location);
      return fail(Error::InvalidMetaStatement);
  }
  setErrorLocation(statement.location);
  return fail(Error::InvalidMetaStatement);
}

qovrin::Status Parser::dispatchMeta(ast::StatementList& list, const SourceLine& line) {
  const std::string_view trimmed = trimBlanks(line.text);
  if (looksLikeStructStart(trimmed)) return appendStructDeclaration(list, line);
  if (isHeader(trimmed, "fn ")) return appendMetaFunctionStatement(list, line);
  if (startsWithMacroKeyword(line.text)) return appendMacroStatement(list, line);
  if (isHeader(trimmed, "for ")) return appendMetaForStatement(list, line);
  if (isHeader(trimmed, "while ")) return appendMetaWhileStatement(list, line);
  if (trimmed == "late_layout {") return appendLateLayoutStatement(list, line);
  if (trimmed == "defer {") return appendMetaDeferStatement(list, line);
  if (isHeader(trimmed, "if ")) return appendMetaIfStatement(list, line);
  const std::string_view bare = trim(line.text, kBlanksAndSemicolons);
  if (bare == "break") return ast::append(list, ast::BreakStatement{line.location});
  if (bare == "continue") return ast::append(list, ast::ContinueStatement{line.location});
  if (trimmed.starts_with("let ") || trimmed.starts_with("const ")) return appendValueDeclaration(list, line);
  if (identifier::looksLikeAssignment(line.text)) return appendAssignment(list, line);
  if (looksLikeMetaReturn(trimmed)) return appendMetaReturn(list, line);
  setErrorLocation(line.location);
  return fail(Error::InvalidMetaStatement);
}

qovrin::Status Parser::readBody(ast::StatementList& body, Error end_of_input) {
  while (!lexer_.atEnd()) {
    const auto line = lexer_.next();
    if (!line) return fail(line.error());
    switch (line->kind) {
      case LineKind::blank:
      case LineKind::comment:
        break;
      case LineKind::close_brace:
        return {};
      default:
        QOVRIN_TRY(appendExecutableStatement(body, *line));
        break;
    }
  }
  return fail(end_of_input);
}

qovrin::Status Parser::appendMetaBlockStatement(ast::StatementList& list, const SourceLine& line) {
  return parseBlock(line, [&]() -> qovrin::Status {
    ast::BlockStatement block{{}, line.location};
    return appendWithBody(list, block, Error::UnexpectedEndOfMetaBlock);
  });
}

}  // namespace frontend::parser
