// Definitions: meta functions, macros, struct and union declarations.

#include <algorithm>
#include <unordered_set>

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

// Calls visit with every comma-separated piece of text, trimmed of blank, tab,
// CR and LF. Parameter lists have no nesting, so every comma splits.
template <typename Visit>
qovrin::Status forEachCommaPiece(std::string_view text, Visit&& visit) {
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    QOVRIN_TRY(visit(trim(text.substr(start, comma - start), kLineSpace)));
    if (comma == std::string_view::npos) return {};
    start = comma + 1;
  }
}

// NAME(PARAMS) followed by what stands after the last ")".
struct Signature {
  std::string_view name;
  std::string_view params;
  std::string_view tail;
};

std::optional<Signature> splitSignature(std::string_view text) {
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  return Signature{trim(text.substr(0, open), kLineSpace), trim(text.substr(open + 1, close - open - 1), kLineSpace),
                   trim(text.substr(close + 1), kLineSpace)};
}

// A macro can be named like an instruction ("push2", "my.copy") but not like
// a keyword, a directive or a label.
bool isMacroName(std::string_view name) {
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = name.find('.', start);
    const std::string_view segment = name.substr(start, dot - start);
    if (segment.empty() || !identifier::isName(segment)) return false;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return lexer::classifyTrimmed(name) == LineKind::isa_text;
}

// Names of a parameter list met so far, as views of the header text. Hashed,
// so that a header with a huge list is checked in linear time.
using SeenParamNames = std::unordered_set<std::string_view>;

qovrin::Result<std::vector<ast::MetaFunctionParam>> parseMacroParams(std::string_view text,
                                                                     const SourceLocation& location, bool& variadic) {
  std::vector<ast::MetaFunctionParam> params;
  SeenParamNames seen;
  variadic = false;
  if (text.empty()) return params;
  QOVRIN_TRY(forEachCommaPiece(text, [&](std::string_view piece) -> qovrin::Status {
    if (variadic) return fail(Error::InvalidMacro);  // only the last parameter may be variadic
    if (piece.starts_with("...")) {
      variadic = true;
      piece.remove_prefix(3);
    }
    if (!identifier::isName(piece) || piece.find('.') != std::string_view::npos || piece == "true" ||
        piece == "false" || !seen.insert(piece).second) {
      return fail(Error::InvalidMacro);
    }
    params.push_back(ast::MetaFunctionParam{std::string(piece), std::nullopt, location, false});
    return {};
  }));
  return params;
}

// "name: type" or "name: type = default", with one trailing comma allowed.
qovrin::Result<ast::StructDeclarationField> parseStructField(const SourceLine& line) {
  std::string_view text = trimBlanks(line.text);
  if (text.ends_with(',')) text = trimBlanks(text.substr(0, text.size() - 1));
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return fail(Error::InvalidStructField);
  const std::string_view name = trimBlanks(text.substr(0, colon));
  const std::string_view declared = trimBlanks(text.substr(colon + 1));
  if (!identifier::isName(name) || declared.empty()) return fail(Error::InvalidStructField);

  ast::StructDeclarationField field{std::string(name), {}, std::nullopt, line.location};
  std::string_view type_name = declared;
  if (const std::size_t equals = declared.find('='); equals != std::string_view::npos) {
    type_name = trimBlanks(declared.substr(0, equals));
    const std::string_view default_value = trimBlanks(declared.substr(equals + 1));
    if (default_value.empty()) return fail(Error::InvalidStructField);
    field.default_value.emplace(default_value);
  }
  if (!identifier::isName(type_name)) return fail(Error::InvalidStructField);
  field.type_name = type_name;
  return field;
}

}  // namespace

bool metaParamNameExists(std::span<const ast::MetaFunctionParam> params, std::string_view name) noexcept {
  return std::any_of(params.begin(), params.end(),
                     [&](const ast::MetaFunctionParam& param) { return param.name == name; });
}

qovrin::Result<std::vector<ast::MetaFunctionParam>> parseMetaFunctionParams(std::string_view text,
                                                                            const SourceLocation& location) {
  std::vector<ast::MetaFunctionParam> params;
  SeenParamNames seen;
  text = trim(text, kLineSpace);
  if (text.empty()) return params;
  QOVRIN_TRY(forEachCommaPiece(text, [&](std::string_view piece) -> qovrin::Status {
    if (piece.empty()) return fail(Error::InvalidMetaFunction);
    bool is_mutable = false;
    if (piece.starts_with("let ")) {
      is_mutable = true;
      piece = trim(piece.substr(3), kLineSpace);
    }
    std::string_view name = piece;
    std::optional<std::string> type_name;
    if (const std::size_t colon = piece.find(':'); colon != std::string_view::npos) {
      name = trim(piece.substr(0, colon), kLineSpace);
      const std::string_view type = trim(piece.substr(colon + 1), kLineSpace);
      if (!identifier::isName(type)) return fail(Error::InvalidMetaFunction);
      type_name.emplace(type);
    }
    if (!identifier::isName(name) || !seen.insert(name).second) return fail(Error::InvalidMetaFunction);
    params.push_back(ast::MetaFunctionParam{std::string(name), std::move(type_name), location, is_mutable});
    return {};
  }));
  return params;
}

namespace {

// The header parsers run out of line and return their record on the heap, so
// that none of their locals sits in the frames of a deeply nested body.
[[gnu::noinline]] qovrin::Result<std::unique_ptr<ast::MetaFunctionStatement>> metaFunctionHeader(
    const SourceLine& header) {
  const std::string_view trimmed = trim(header.text, kLineSpace);
  if (!trimmed.starts_with("fn ")) return fail(Error::InvalidMetaFunction);
  const auto text = headerBetween(trimmed, 2, kLineSpace);
  const auto signature = text ? splitSignature(*text) : std::nullopt;
  if (!signature || !identifier::isName(signature->name)) return fail(Error::InvalidMetaFunction);

  std::optional<std::string> return_type;
  if (!signature->tail.empty()) {
    if (!signature->tail.starts_with("->")) return fail(Error::InvalidMetaFunction);
    const std::string_view type = trim(signature->tail.substr(2), kLineSpace);
    if (!identifier::isName(type)) return fail(Error::InvalidMetaFunction);
    return_type.emplace(type);
  }
  auto params = parseMetaFunctionParams(signature->params, header.location);
  if (!params) return fail(params.error());
  // A value function must not change its caller's values.
  const bool any_mutable =
      std::any_of(params->begin(), params->end(), [](const ast::MetaFunctionParam& p) { return p.is_mutable; });
  if (return_type && any_mutable) return fail(Error::InvalidMetaFunction);
  return std::make_unique<ast::MetaFunctionStatement>(ast::MetaFunctionStatement{
      std::string(signature->name), std::move(*params), std::move(return_type), {}, header.location, false});
}

[[gnu::noinline]] qovrin::Result<std::unique_ptr<ast::MacroStatement>> macroHeader(const SourceLine& header) {
  if (!startsWithMacroKeyword(header.text)) return fail(Error::InvalidMacro);
  const std::string_view rest = trim(header.text.substr(5), kLineSpace);
  const auto signature = rest.ends_with('{') ? splitSignature(rest) : std::nullopt;
  if (!signature || signature->tail != "{" || !isMacroName(signature->name)) return fail(Error::InvalidMacro);

  bool variadic = false;
  auto params = parseMacroParams(signature->params, header.location, variadic);
  if (!params) return fail(params.error());
  auto statement = std::make_unique<ast::MacroStatement>();
  statement->name = signature->name;
  statement->params = std::move(*params);
  statement->location = header.location;
  statement->variadic = variadic;
  return statement;
}

}  // namespace

qovrin::Status Parser::appendMetaFunctionStatement(ast::StatementList& list, const SourceLine& header) {
  return parseBlock(header, [&]() -> qovrin::Status {
    return appendWithBody(list, metaFunctionHeader(header), Error::UnexpectedEndOfMetaFunction);
  });
}

qovrin::Status Parser::appendMacroStatement(ast::StatementList& list, const SourceLine& header) {
  return parseBlock(header, [&]() -> qovrin::Status {
    return appendWithBody(list, macroHeader(header), Error::UnexpectedEndOfMetaFunction);
  });
}

qovrin::Status Parser::appendStructDeclaration(ast::StatementList& list, const SourceLine& header) {
  return parseBlock(header, [&]() -> qovrin::Status {
    const std::string_view trimmed = trimBlanks(header.text);
    ast::StructDeclarationStatement statement;
    statement.location = header.location;
    std::size_t word = 0;
    if (trimmed.starts_with("packed struct")) {
      statement.packed = true;
      word = 13;
    } else if (trimmed.starts_with("packed union")) {
      statement.packed = statement.is_union = true;
      word = 12;
    } else if (trimmed.starts_with("struct")) {
      word = 6;
    } else if (trimmed.starts_with("union")) {
      statement.is_union = true;
      word = 5;
    } else {
      return fail(Error::InvalidStructDeclaration);
    }
    const auto name = headerBetween(trimmed, word, kBlanks);
    if (!name || !identifier::isName(*name)) return fail(Error::InvalidStructDeclaration);
    statement.name = *name;

    while (true) {
      if (lexer_.atEnd()) return fail(Error::UnexpectedEndOfStruct);
      const auto line = lexer_.next();
      if (!line) return fail(line.error());
      if (line->kind == LineKind::blank || line->kind == LineKind::comment) continue;
      if (line->kind == LineKind::close_brace) break;
      // Member failures are reported at the member's own line.
      const auto member_failure = [&](Error error) {
        setErrorLocation(line->location);
        return fail(error);
      };
      if (line->kind == LineKind::legacy_directive) return member_failure(Error::LegacyDirectiveSyntax);
      if (line->kind != LineKind::isa_text && line->kind != LineKind::meta) {
        return member_failure(Error::InvalidStructField);
      }
      auto field = parseStructField(*line);
      if (!field) return member_failure(field.error());
      if (statement.is_union && field->default_value) return member_failure(Error::UnionFieldDefaultNotAllowed);
      statement.fields.push_back(std::move(*field));
    }
    return ast::append(list, std::move(statement));
  });
}

}  // namespace frontend::parser
