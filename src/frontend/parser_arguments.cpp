// API call texts, their arguments, struct literals and initializers.

#include <vector>

#include "frontend/identifier.hpp"
#include "frontend/lexer.hpp"
#include "frontend/parser.hpp"
#include "frontend/parser_support.hpp"

namespace frontend::parser {

using qovrin::Error;
using qovrin::fail;
using namespace support;

namespace support {

qovrin::Result<expr::Node> parseExpressionOr(std::string_view text, Error otherwise) {
  auto node = expr::parseOwned(text);
  if (node) return node;
  // Running out of nesting is a limit of this input, not a malformed expression.
  if (node.error() == Error::NestingTooDeep) return fail(Error::NestingTooDeep);
  return fail(otherwise);
}

}  // namespace support

namespace {

// Splits at commas outside double-quoted strings and outside parentheses and
// braces. Single quotes are not tracked, so a comma between them splits.
qovrin::Status splitTopLevel(std::string_view text, bool require_closed, std::vector<std::string_view>& pieces) {
  bool in_string = false;
  std::uint32_t parentheses = 0;
  std::uint32_t braces = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      // A doubled quote closes and reopens the string at once.
      if (c == '"') in_string = false;
      continue;
    }
    switch (c) {
      case '"':
        in_string = true;
        break;
      case '(':
        ++parentheses;
        break;
      case ')':
        if (parentheses == 0) return fail(Error::InvalidApiArgument);
        --parentheses;
        break;
      case '{':
        ++braces;
        break;
      case '}':
        if (braces == 0) return fail(Error::InvalidApiArgument);
        --braces;
        break;
      case ',':
        if (parentheses == 0 && braces == 0) {
          pieces.push_back(text.substr(start, i - start));
          start = i + 1;
        }
        break;
      default:
        break;
    }
  }
  pieces.push_back(text.substr(start));
  if (require_closed && (in_string || parentheses != 0 || braces != 0)) return fail(Error::InvalidApiArgument);
  return {};
}

// The characters between the outer double quotes, each doubled quote taken as one.
qovrin::Result<std::string> decodeStringArgument(std::string_view piece) {
  const std::string_view inner = piece.substr(1, piece.size() - 2);
  std::string decoded;
  decoded.reserve(inner.size());
  for (std::size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '"') {
      if (i + 1 >= inner.size() || inner[i + 1] != '"') return fail(Error::InvalidApiArgument);
      ++i;
    }
    decoded += inner[i];
  }
  return decoded;
}

qovrin::Result<ast::StructLiteralArgument> parseStructLiteral(std::string_view text, std::size_t depth);

// A nested struct literal when the text is one, else an expression; anything
// else fails with not_a_value.
qovrin::Result<ast::StructLiteralValue> parseValue(std::string_view text, std::size_t depth, Error not_a_value) {
  auto literal = parseStructLiteral(text, depth);
  if (literal) return ast::StructLiteralValue{std::move(*literal)};
  if (literal.error() != Error::InvalidApiArgument) return fail(literal.error());
  auto node = parseExpressionOr(text, not_a_value);
  if (!node) return fail(node.error());
  return ast::StructLiteralValue{std::move(*node)};
}

qovrin::Result<ast::StructLiteralArgument> parseStructLiteral(std::string_view text, std::size_t depth) {
  const std::size_t open = text.find('{');
  if (open == std::string_view::npos || !text.ends_with('}')) return fail(Error::InvalidApiArgument);
  ast::StructLiteralArgument literal;
  const std::string_view type_name = trim(text.substr(0, open), kLineSpace);
  if (!identifier::isName(type_name)) return fail(Error::InvalidApiArgument);
  if (depth >= kMaxNesting) return fail(Error::NestingTooDeep);
  literal.type_name = type_name;

  std::vector<std::string_view> pieces;
  QOVRIN_TRY(splitTopLevel(text.substr(open + 1, text.size() - open - 2), true, pieces));
  for (const std::string_view raw : pieces) {
    const std::string_view piece = trim(raw, kLineSpace);
    if (piece.empty()) continue;
    const std::size_t colon = piece.find(':');
    if (colon == std::string_view::npos) return fail(Error::InvalidApiArgument);
    const std::string_view name = trim(piece.substr(0, colon), kLineSpace);
    const std::string_view value = trim(piece.substr(colon + 1), kLineSpace);
    if (!identifier::isName(name) || value.empty()) return fail(Error::InvalidApiArgument);
    auto parsed = parseValue(value, depth + 1, Error::InvalidApiArgument);
    if (!parsed) return fail(parsed.error());
    literal.fields.push_back(ast::StructLiteralField{std::string(name), std::move(*parsed)});
  }
  return literal;
}

qovrin::Result<ast::ApiCallArgument> parseApiArgument(std::string_view piece) {
  if (piece.size() >= 2 && piece.front() == '"' && piece.back() == '"') {
    auto text = decodeStringArgument(piece);
    if (!text) return fail(text.error());
    return ast::ApiCallArgument{std::move(*text)};
  }
  auto value = parseValue(piece, 0, Error::InvalidExpression);
  if (!value) return fail(value.error());
  if (auto* literal = std::get_if<ast::StructLiteralArgument>(&*value)) {
    return ast::ApiCallArgument{std::move(*literal)};
  }
  return ast::ApiCallArgument{std::move(std::get<expr::Node>(*value))};
}

}  // namespace

qovrin::Result<ast::StructLiteralArgument> parseStructLiteralArgument(std::string_view text) {
  return parseStructLiteral(text, 0);
}

qovrin::Result<ast::StructLiteralValue> parseValueInitializer(std::string_view text) {
  return parseValue(text, 0, Error::InvalidExpression);
}

qovrin::Result<ast::ApiCallStatement> parseApiCall(std::string_view text, const SourceLocation& location) {
  const std::string_view call = lexer::isaTextBeforeComment(text);
  const std::size_t open = call.find('(');
  const std::size_t close = call.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return fail(Error::InvalidApiCall);
  }
  if (call.find_first_not_of(kBlanksAndSemicolons, close + 1) != std::string_view::npos) {
    return fail(Error::InvalidApiCall);
  }
  const std::string_view name = trimBlanks(call.substr(0, open));
  if (name.empty()) return fail(Error::InvalidApiCall);

  ast::ApiCallStatement statement{std::string(call), std::string(name), {}, location};
  const std::string_view argument_text = trim(call.substr(open + 1, close - open - 1), kLineSpace);
  if (argument_text.empty()) return statement;

  std::vector<std::string_view> pieces;
  QOVRIN_TRY(splitTopLevel(argument_text, false, pieces));
  statement.arguments.reserve(pieces.size());
  for (const std::string_view raw : pieces) {
    const std::string_view piece = trim(raw, kLineSpace);
    if (piece.empty()) return fail(Error::InvalidApiArgument);
    auto argument = parseApiArgument(piece);
    if (!argument) return fail(argument.error());
    statement.arguments.push_back(std::move(*argument));
  }
  return statement;
}

}  // namespace frontend::parser
