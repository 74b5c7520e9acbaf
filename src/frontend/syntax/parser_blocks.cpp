// Control-flow blocks: if/else, while, for, defer and late_layout.

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

// The condition of "KEYWORD condition {", or nothing when the header has no
// such shape.
std::optional<std::string_view> conditionOf(std::string_view text, std::string_view keyword_and_blank) {
  const std::string_view trimmed = trimBlanks(text);
  if (!trimmed.starts_with(keyword_and_blank)) return std::nullopt;
  auto condition = headerBetween(trimmed, keyword_and_blank.size() - 1, kBlanks);
  if (!condition || condition->empty()) return std::nullopt;
  return condition;
}

// A line inside a then part that begins the else part.
bool startsElsePart(const SourceLine& line) {
  const std::string_view trimmed = trimBlanks(line.text);
  if (line.kind == LineKind::isa_text) return trimmed == "} else {" || isHeader(trimmed, "} else if ");
  if (line.kind == LineKind::meta) return trimmed == "else {" || isHeader(trimmed, "else if ");
  return false;
}

// "range(A, B)" with both bounds, else a collection expression.
qovrin::Result<ast::MetaForSource> parseForSource(std::string_view source) {
  if (source.starts_with("range")) {
    const std::string_view bounds = trimBlanks(source.substr(5));
    if (bounds.size() >= 2 && bounds.front() == '(' && bounds.back() == ')') {
      // The first comma splits, whatever brackets or quotes surround it.
      const std::string_view inner = bounds.substr(1, bounds.size() - 2);
      const std::size_t comma = inner.find(',');
      if (comma == std::string_view::npos) return fail(Error::InvalidMetaFor);
      const std::string_view start = trimBlanks(inner.substr(0, comma));
      const std::string_view end = trimBlanks(inner.substr(comma + 1));
      if (start.empty() || end.empty()) return fail(Error::InvalidMetaFor);
      auto first = parseExpressionOr(start, Error::InvalidMetaFor);
      if (!first) return fail(first.error());
      auto second = parseExpressionOr(end, Error::InvalidMetaFor);
      if (!second) return fail(second.error());
      return ast::MetaForSource{std::move(*first), std::move(*second)};
    }
  }
  auto collection = parseExpressionOr(source, Error::InvalidMetaFor);
  if (!collection) return fail(collection.error());
  return ast::MetaForSource{std::move(*collection), std::nullopt};
}

// The header parsers run out of line and return their record on the heap, so
// that none of their locals sits in the frames of a deeply nested body.
[[gnu::noinline]] qovrin::Result<std::unique_ptr<ast::MetaIfStatement>> ifHeader(const SourceLine& header) {
  const auto condition = conditionOf(header.text, "if ");
  if (!condition) return fail(Error::InvalidMetaIf);
  return std::make_unique<ast::MetaIfStatement>(
      ast::MetaIfStatement{std::string(*condition), {}, {}, header.location});
}

[[gnu::noinline]] qovrin::Result<std::unique_ptr<ast::MetaWhileStatement>> whileHeader(const SourceLine& header) {
  const auto condition = conditionOf(header.text, "while ");
  if (!condition) return fail(Error::InvalidMetaWhile);
  return std::make_unique<ast::MetaWhileStatement>(ast::MetaWhileStatement{std::string(*condition), {}, header.location});
}

[[gnu::noinline]] qovrin::Result<std::unique_ptr<ast::MetaForRangeStatement>> forHeader(const SourceLine& header) {
  const std::string_view trimmed = trimBlanks(header.text);
  if (!trimmed.starts_with("for ")) return fail(Error::InvalidMetaFor);
  const auto loop = headerBetween(trimmed, 3, kBlanks);
  if (!loop || loop->size() < 4) return fail(Error::InvalidMetaFor);
  const std::size_t in = loop->find(" in ");
  if (in == std::string_view::npos) return fail(Error::InvalidMetaFor);
  const std::string_view variable = trimBlanks(loop->substr(0, in));
  const std::string_view source_text = trimBlanks(loop->substr(in + 4));
  if (!identifier::isName(variable) || source_text.empty()) return fail(Error::InvalidMetaFor);
  auto source = parseForSource(source_text);
  if (!source) return fail(source.error());
  return std::make_unique<ast::MetaForRangeStatement>(
      ast::MetaForRangeStatement{std::string(variable), std::move(*source), {}, header.location});
}

}  // namespace

qovrin::Status Parser::appendMetaIfStatement(ast::StatementList& list, const SourceLine& header) {
  return parseBlock(header, [&]() -> qovrin::Status {
    auto made = ifHeader(header);
    if (!made) return fail(made.error());
    ast::MetaIfStatement& statement = **made;
    while (true) {
      if (lexer_.atEnd()) return fail(Error::UnexpectedEndOfMetaIf);
      const auto line = lexer_.next();
      if (!line) return fail(line.error());
      if (line->kind == LineKind::blank || line->kind == LineKind::comment) continue;
      if (line->kind == LineKind::close_brace) break;
      if (startsElsePart(*line)) {
        QOVRIN_TRY(appendMetaElseBody(statement.else_statements, *line));
        break;
      }
      QOVRIN_TRY(appendExecutableStatement(statement.then_statements, *line));
    }
    return ast::append(list, std::move(statement));
  });
}

qovrin::Status Parser::appendMetaElseBody(ast::StatementList& else_list, const SourceLine& line) {
  return locateFailure(line, [&]() -> qovrin::Status {
    const std::string_view trimmed = trimBlanks(line.text);
    // "else if c {" and "} else if c {" continue with the nested "if c {".
    for (const std::size_t lead : {std::size_t{5}, std::size_t{7}}) {
      if (isHeader(trimmed, lead == 5 ? "else if " : "} else if ")) {
        SourceLine nested = line;
        nested.text = trimmed.substr(lead);
        return appendMetaIfStatement(else_list, nested);
      }
    }
    if (trimmed != "else {" && trimmed != "} else {") return fail(Error::InvalidMetaIf);
    return readBody(else_list, Error::UnexpectedEndOfMetaIf);
  });
}

qovrin::Status Parser::appendMetaWhileStatement(ast::StatementList& list, const SourceLine& header) {
  return parseBlock(header, [&]() -> qovrin::Status {
    return appendWithBody(list, whileHeader(header), Error::UnexpectedEndOfMetaWhile);
  });
}

qovrin::Status Parser::appendMetaForStatement(ast::StatementList& list, const SourceLine& header) {
  return parseBlock(header, [&]() -> qovrin::Status {
    return appendWithBody(list, forHeader(header), Error::UnexpectedEndOfMetaFor);
  });
}

template <typename Block>
qovrin::Status Parser::appendFixedHeaderBlock(ast::StatementList& list, const SourceLine& header,
                                              std::string_view header_text, Error invalid, Error end_of_input) {
  return parseBlock(header, [&]() -> qovrin::Status {
    if (trimBlanks(header.text) != header_text) return fail(invalid);
    Block block{{}, header.location};
    return appendWithBody(list, block, end_of_input);
  });
}

qovrin::Status Parser::appendMetaDeferStatement(ast::StatementList& list, const SourceLine& header) {
  return appendFixedHeaderBlock<ast::DeferStatement>(list, header, "defer {", Error::InvalidMetaDefer,
                                                     Error::UnexpectedEndOfMetaDefer);
}

qovrin::Status Parser::appendLateLayoutStatement(ast::StatementList& list, const SourceLine& header) {
  return appendFixedHeaderBlock<ast::LateLayoutStatement>(list, header, "late_layout {", Error::InvalidLateLayout,
                                                          Error::UnexpectedEndOfLateLayout);
}

}  // namespace frontend::parser
