// API call texts, their arguments, struct literals and initializers.

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "common/quoted_text.hpp"
#include "common/work_stack.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/lexer.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/syntax/parser_support.hpp"
#include "frontend/syntax/plain_number.hpp"

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

using qovrin::quoted_text::kSource;

// Where each "(" and "{" outside the strings of a struct literal's
// body closes, found in one scan. Nested literals split their bodies by
// jumping over inner groups instead of scanning them again, so a literal
// nested a thousand levels deep still costs time linear in its size.
class GroupIndex {
 public:
  // InvalidApiArgument when a bracket closes nothing, closes the other kind,
  // or a bracket or string is left open.
  qovrin::Status build(std::string_view body) {
    base_ = body.data();
    std::vector<std::size_t> open;  // positions in groups_ of the groups still open
    for (std::size_t i = 0; i < body.size(); ++i) {
      const char c = body[i];
      if (qovrin::quoted_text::opener(kSource, body, i) != 0) {
        i = qovrin::quoted_text::closingQuote(kSource, body, i);
        if (i == std::string_view::npos) return fail(Error::InvalidApiArgument);
      } else if (c == '(' || c == '{') {
        open.push_back(groups_.size());
        groups_.push_back(Group{i, i});
      } else if (c == ')' || c == '}') {
        if (open.empty() || body[groups_[open.back()].open] != (c == ')' ? '(' : '{'))
          return fail(Error::InvalidApiArgument);
        groups_[open.back()].close = i;
        open.pop_back();
      }
    }
    if (!open.empty()) return fail(Error::InvalidApiArgument);
    return {};
  }

  // The closing bracket of the group opening at bracket, an offset from
  // text; none for a bracket the index does not know.
  std::optional<std::size_t> closeOf(std::string_view text, std::size_t bracket) const noexcept {
    const auto offset = static_cast<std::size_t>(text.data() + bracket - base_);
    const auto found = std::ranges::lower_bound(groups_, offset, {}, &Group::open);
    if (found == groups_.end() || found->open != offset) return std::nullopt;
    return found->close - (offset - bracket);
  }

 private:
  struct Group {
    std::size_t open;
    std::size_t close;
  };

  const char* base_ = nullptr;
  std::vector<Group> groups_;  // in order of their opening brackets
};

// Calls visit with each piece of text between commas outside strings,
// parentheses and braces. Strings are read as expressions write them. With an
// index, the text lies in the indexed body and its groups are jumped over.
template <typename Visit>
qovrin::Status splitTopLevel(std::string_view text, bool require_closed, const GroupIndex* groups, Visit&& visit) {
  std::uint32_t parentheses = 0;
  std::uint32_t braces = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '"':
      case '\'':
        if (qovrin::quoted_text::opener(kSource, text, i) == 0) break;
        i = qovrin::quoted_text::closingQuote(kSource, text, i);
        if (i == std::string_view::npos) {
          if (require_closed) return fail(Error::InvalidApiArgument);
          return visit(text.substr(start));
        }
        break;
      case '(':
      case '{':
        if (groups != nullptr) {
          // A group closing past the text's end leaves the text unbalanced.
          const auto close = groups->closeOf(text, i);
          if (!close || *close >= text.size()) return fail(Error::InvalidApiArgument);
          i = *close;
        } else {
          ++(c == '(' ? parentheses : braces);
        }
        break;
      case ')':
        if (parentheses == 0) return fail(Error::InvalidApiArgument);
        --parentheses;
        break;
      case '}':
        if (braces == 0) return fail(Error::InvalidApiArgument);
        --braces;
        break;
      case ',':
        if (parentheses == 0 && braces == 0) {
          QOVRIN_TRY(visit(text.substr(start, i - start)));
          start = i + 1;
        }
        break;
      default:
        break;
    }
  }
  if (require_closed && (parentheses != 0 || braces != 0)) return fail(Error::InvalidApiArgument);
  return visit(text.substr(start));
}

// How many pieces splitTopLevel gives, checking the text as it does, so that
// the records of a very wide list are allocated once and exactly.
qovrin::Result<std::size_t> countTopLevel(std::string_view text, bool require_closed, const GroupIndex* groups) {
  std::size_t count = 0;
  QOVRIN_TRY(splitTopLevel(text, require_closed, groups, [&](std::string_view) -> qovrin::Status {
    ++count;
    return {};
  }));
  return count;
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

qovrin::Result<ast::StructLiteralArgument> parseStructLiteral(std::string_view text, std::size_t depth,
                                                              const GroupIndex* groups);

// A nested struct literal when the text is one, else an expression; anything
// else fails with not_a_value. groups indexes the outermost literal's body
// once a literal has been entered.
qovrin::Result<ast::StructLiteralValue> parseValue(std::string_view text, std::size_t depth, Error not_a_value,
                                                   const GroupIndex* groups) {
  // Each value is built where the result keeps it. A finished variant moved
  // into the result reads, on the path g++ cannot rule out, a node's word
  // from a variant that holds a boxed literal.
  auto literal = parseStructLiteral(text, depth, groups);
  if (literal)
    return qovrin::Result<ast::StructLiteralValue>(
        std::in_place, std::in_place_index<1>, std::make_unique<ast::StructLiteralArgument>(std::move(*literal)));
  if (literal.error() != Error::InvalidApiArgument) return fail(literal.error());
  auto node = parseExpressionOr(text, not_a_value);
  if (!node) return fail(node.error());
  return qovrin::Result<ast::StructLiteralValue>(std::in_place, std::in_place_index<0>, std::move(*node));
}

qovrin::Result<ast::StructLiteralArgument> parseStructLiteral(std::string_view text, std::size_t depth,
                                                              const GroupIndex* groups) {
  const std::size_t open = text.find('{');
  if (open == std::string_view::npos || !text.ends_with('}')) return fail(Error::InvalidApiArgument);
  ast::StructLiteralArgument literal;
  const std::string_view type_name = trim(text.substr(0, open), kLineSpace);
  if (!identifier::isName(type_name)) return fail(Error::InvalidApiArgument);
  if (depth >= kMaxNesting || qovrin::workStackFull()) return fail(Error::NestingTooDeep);
  literal.type_name = type_name;

  const std::string_view body = text.substr(open + 1, text.size() - open - 2);
  GroupIndex outermost;
  if (groups == nullptr) {
    QOVRIN_TRY(outermost.build(body));
    groups = &outermost;
  }
  // Every piece is checked before any is parsed, so that a malformed list
  // fails the same way wherever the fault lies.
  const auto pieces = countTopLevel(body, true, groups);
  if (!pieces) return fail(pieces.error());
  literal.fields.reserve(*pieces);
  QOVRIN_TRY(splitTopLevel(body, true, groups, [&](std::string_view raw) -> qovrin::Status {
    const std::string_view piece = trim(raw, kLineSpace);
    if (piece.empty()) return {};
    const std::size_t colon = piece.find(':');
    if (colon == std::string_view::npos) return fail(Error::InvalidApiArgument);
    const std::string_view name = trim(piece.substr(0, colon), kLineSpace);
    const std::string_view value = trim(piece.substr(colon + 1), kLineSpace);
    if (!identifier::isName(name) || value.empty()) return fail(Error::InvalidApiArgument);
    auto parsed = parseValue(value, depth + 1, Error::InvalidApiArgument, groups);
    if (!parsed) return fail(parsed.error());
    return literal.addField(name, std::move(*parsed));
  }));
  return literal;
}

// The characters of a single-quoted literal whose inner quotes all come
// doubled; none for any other text.
std::optional<std::string> plainQuoted(std::string_view text) {
  if (text.size() < 2 || text.front() != '\'' || text.back() != '\'') return std::nullopt;
  const std::string_view inner = text.substr(1, text.size() - 2);
  std::string decoded;
  decoded.reserve(inner.size());
  for (std::size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '\'') {
      if (i + 1 >= inner.size() || inner[i + 1] != '\'') return std::nullopt;
      ++i;
    }
    decoded += inner[i];
  }
  return decoded;
}

// Data lines carry millions of literal arguments: the ones spelled plainly
// become the node the expression parser would build, without running it.
// With data lines joining runs, bench/data_throughput.py --shape sixteen (1M
// lines): 6.20 s -> 2.32 s, 182 -> 96 MiB peak.
std::optional<expr::Node> plainLiteral(std::string_view piece) {
  const bool negative = piece.starts_with('-');
  if (const auto number = plain_number::readWhole(negative ? piece.substr(1) : piece)) {
    expr::Node literal = expr::Node::integerLiteral(*number);
    if (!negative) return literal;
    return expr::Node::unaryOperation(expr::UnaryOperator::minus, std::move(literal));
  }
  if (auto text = plainQuoted(piece)) return expr::Node::withText(expr::NodeKind::string, *text);
  return std::nullopt;
}

}  // namespace

qovrin::Result<ast::ApiCallArgument> support::parseApiArgument(std::string_view piece) {
  if (piece.size() >= 2 && piece.front() == '"' && piece.back() == '"') {
    auto text = decodeStringArgument(piece);
    if (!text) return fail(text.error());
    return ast::ApiCallArgument::ofString(*text);
  }
  if (auto literal = plainLiteral(piece)) return ast::ApiCallArgument{std::move(*literal)};
  auto literal = parseStructLiteral(piece, 0, nullptr);
  if (literal) return ast::ApiCallArgument::ofStructLiteral(piece);
  if (literal.error() != Error::InvalidApiArgument) return fail(literal.error());
  auto node = parseExpressionOr(piece, Error::InvalidExpression);
  if (!node) return fail(node.error());
  return ast::ApiCallArgument{std::move(*node)};
}

qovrin::Result<ast::StructLiteralArgument> parseStructLiteralArgument(std::string_view text) {
  return parseStructLiteral(text, 0, nullptr);
}

qovrin::Result<ast::StructLiteralValue> parseValueInitializer(std::string_view text) {
  return parseValue(text, 0, Error::InvalidExpression, nullptr);
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

  const auto pieces = countTopLevel(argument_text, false, nullptr);
  if (!pieces) return fail(pieces.error());
  statement.arguments.reserve(*pieces);
  QOVRIN_TRY(splitTopLevel(argument_text, false, nullptr, [&](std::string_view raw) -> qovrin::Status {
    const std::string_view piece = trim(raw, kLineSpace);
    if (piece.empty()) return fail(Error::InvalidApiArgument);
    auto argument = parseApiArgument(piece);
    if (!argument) return fail(argument.error());
    statement.arguments.push_back(std::move(*argument));
    return {};
  }));
  return statement;
}

}  // namespace frontend::parser
