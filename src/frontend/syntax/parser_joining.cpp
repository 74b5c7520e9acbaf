// Statements that go on over several lines: the bracket and quote scan and the
// joining of continuation lines.

#include "common/quoted_text.hpp"
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

// The part of a line that the statement keeps: the text before a trailing
// comment, without the blanks in front of that comment.
std::string_view codeOf(std::string_view text, std::size_t code_length) {
  return code_length < text.size() ? trimEnd(text.substr(0, code_length), kBlanks) : text;
}

bool isSignatureStart(std::string_view text) {
  const std::string_view trimmed = trim(text, kLineSpace);
  return trimmed.starts_with("fn ") || startsWithMacroKeyword(trimmed);
}

}  // namespace

qovrin::Result<std::size_t> scanStatementBalance(StatementBalance& balance, std::string_view text) {
  using qovrin::quoted_text::kSource;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (balance.inQuote() || qovrin::quoted_text::opener(kSource, text, i) != 0) {
      const std::size_t from = balance.inQuote() ? i : i + 1;
      if (!balance.inQuote()) balance.quote = text[i];
      const std::size_t end = qovrin::quoted_text::closeAfter(kSource, balance.quote, text, from);
      if (end == std::string_view::npos) return text.size();
      balance.quote = 0;
      i = end - 1;
      continue;
    }
    switch (text[i]) {
      case '(':
        ++balance.parentheses;
        break;
      case ')':
        if (balance.parentheses == 0) return fail(Error::InvalidExpression);
        --balance.parentheses;
        break;
      case '{':
        ++balance.braces;
        break;
      case '}':
        if (balance.braces == 0) return fail(Error::InvalidExpression);
        --balance.braces;
        break;
      case '/':
        if (i + 1 < text.size() && text[i + 1] == '/') return i;
        break;
      default:
        break;
    }
  }
  return text.size();
}

bool statementCanContinue(const SourceLine& line) noexcept {
  if (line.kind == LineKind::call) return true;
  if (line.kind != LineKind::meta) return false;
  const std::string_view trimmed = trimBlanks(line.text);
  return trimmed.starts_with("let ") || trimmed.starts_with("const ") || identifier::looksLikeAssignment(line.text) ||
         looksLikeMetaReturn(trimmed);
}

qovrin::Result<bool> metaFunctionSignatureNeedsContinuation(const SourceLine& line) {
  if (line.kind != LineKind::meta || !isSignatureStart(line.text)) return false;
  StatementBalance balance;
  if (auto scanned = scanStatementBalance(balance, line.text); !scanned) return fail(scanned.error());
  return balance.parentheses != 0 || balance.inQuote();
}

qovrin::Status Parser::joinContinuationLines(std::string& joined, StatementBalance& balance, bool header) {
  const auto still_open = [&] { return header ? balance.parentheses != 0 || balance.inQuote() : balance.open(); };
  while (still_open()) {
    if (lexer_.atEnd()) return fail(Error::UnexpectedEndOfStatement);
    const auto line = lexer_.next();
    if (!line) return fail(line.error());
    if (line->kind == LineKind::blank || line->kind == LineKind::comment) continue;
    const auto code_length = scanStatementBalance(balance, line->text);
    if (!code_length) return fail(code_length.error());
    joined += '\n';
    joined += codeOf(line->text, *code_length);
    // Braces of a header line (the body's "{") never keep the header open.
    if (header) balance.braces = 0;
  }
  return {};
}

qovrin::Result<std::optional<std::string>> Parser::collectContinuedStatement(const SourceLine& first) {
  return locateFailure(first, [&]() -> qovrin::Result<std::optional<std::string>> {
    StatementBalance balance;
    const auto code_length = scanStatementBalance(balance, first.text);
    if (!code_length) return fail(code_length.error());
    if (!balance.open()) return std::nullopt;
    std::string joined(codeOf(first.text, *code_length));
    QOVRIN_TRY(joinContinuationLines(joined, balance, false));
    return joined;
  });
}

qovrin::Result<std::string> Parser::collectMetaFunctionSignature(const SourceLine& header) {
  return locateFailure(header, [&]() -> qovrin::Result<std::string> {
    StatementBalance balance;
    const auto code_length = scanStatementBalance(balance, header.text);
    if (!code_length) return fail(code_length.error());
    std::string joined(codeOf(header.text, *code_length));
    QOVRIN_TRY(joinContinuationLines(joined, balance, true));
    return joined;
  });
}

}  // namespace frontend::parser
