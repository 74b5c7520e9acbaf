#pragma once
// Text helpers shared by the statement parser's files, and the definition of
// Parser::locateFailure for them.

#include <optional>
#include <string_view>

#include "common/ascii.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/parser.hpp"

namespace frontend::parser::support {

inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kLineSpace = " \t\r\n";
inline constexpr std::string_view kBlanksAndSemicolons = " \t;";

// Tab, line feed, vertical tab, form feed, carriage return, blank.
constexpr bool isWhiteSpaceByte(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

using identifier::trimBlanks;
using qovrin::isOneOf;
using qovrin::trim;
using qovrin::trimEnd;

// "keyword rest {": the text begins with prefix and ends with "{".
constexpr bool isHeader(std::string_view trimmed, std::string_view prefix) noexcept {
  return trimmed.starts_with(prefix) && trimmed.ends_with('{');
}

// The text after word, trimmed, when it ends with "{"; that "{" removed and
// the rest trimmed again. Nothing when the text does not end with "{".
constexpr std::optional<std::string_view> headerBetween(std::string_view trimmed, std::size_t word_length,
                                                        std::string_view set) noexcept {
  const std::string_view rest = trim(trimmed.substr(word_length), set);
  if (!rest.ends_with('{')) return std::nullopt;
  return trim(rest.substr(0, rest.size() - 1), set);
}

// expr::parseOwned, with every failure but NestingTooDeep reported as otherwise.
qovrin::Result<expr::Node> parseExpressionOr(std::string_view text, qovrin::Error otherwise);

// One trimmed, non-empty argument of an API call.
qovrin::Result<ast::ApiCallArgument> parseApiArgument(std::string_view piece);

// "return" alone or followed by a blank or tab.
constexpr bool looksLikeMetaReturn(std::string_view trimmed) noexcept {
  return trimmed == "return" ||
         (trimmed.size() > 6 && trimmed.starts_with("return") && (trimmed[6] == ' ' || trimmed[6] == '\t'));
}

// "macro" followed by a white-space byte.
constexpr bool startsWithMacroKeyword(std::string_view text) noexcept {
  return text.size() > 5 && text.starts_with("macro") && isWhiteSpaceByte(text[5]);
}

}  // namespace frontend::parser::support

namespace frontend::parser {

template <typename Parse>
auto Parser::locateFailure(const lexer::SourceLine& line, Parse&& parse) {
  const std::uint64_t located_before = located_failures_;
  auto result = parse();
  if (!result && located_failures_ == located_before) setErrorLocation(line.location);
  return result;
}

template <typename Parse>
qovrin::Status Parser::parseBlock(const lexer::SourceLine& header, Parse&& parse) {
  return locateFailure(header, [&]() -> qovrin::Status {
    QOVRIN_TRY(checkNesting(header));
    const NestingLevel level(*this);
    return parse();
  });
}

// Out of line: the statement it builds would otherwise take room in every
// frame of a nested body.
template <typename Record>
[[gnu::noinline]] qovrin::Status appendFinished(ast::StatementList& list, Record& record) {
  return ast::append(list, std::move(record));
}

template <typename Record>
qovrin::Status Parser::appendWithBody(ast::StatementList& list, Record& record, qovrin::Error end_of_input) {
  QOVRIN_TRY(readBody(record.body, end_of_input));
  return appendFinished(list, record);
}

template <typename Record>
qovrin::Status Parser::appendWithBody(ast::StatementList& list, qovrin::Result<std::unique_ptr<Record>> record,
                                      qovrin::Error end_of_input) {
  if (!record) return qovrin::fail(record.error());
  return appendWithBody(list, **record, end_of_input);
}

}  // namespace frontend::parser
