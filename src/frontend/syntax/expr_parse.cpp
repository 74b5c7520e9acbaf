#include <algorithm>
#include <array>
#include <optional>

#include "common/ascii.hpp"
#include "common/name_table.hpp"
#include "common/quoted_text.hpp"
#include "common/work_stack.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"
#include "frontend/syntax/expr_number.hpp"
#include "frontend/syntax/identifier.hpp"

namespace frontend::expr {
namespace {

using identifier::isAsciiDigit;
using identifier::isAsciiLetter;
using qovrin::Error;
using qovrin::fail;

// Bound on the parser's own recursion (binary and unary frames together).
// Parentheses cost two frames per level and unary operators one, so ordinary
// nesting stays far below it, while hostile text fails long before the stack
// runs out.
constexpr std::size_t kMaxNesting = 400;

constexpr bool isWhiteSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool isWordStart(char c) noexcept { return isAsciiLetter(c) || c == '_'; }
constexpr bool isWordChar(char c) noexcept { return isWordStart(c) || isAsciiDigit(c) || c == '$'; }

struct OperatorMatch {
  BinaryOperator op;
  int level;
  std::size_t length;
};

struct OperatorSpelling {
  std::string_view text;
  BinaryOperator op;
  int level;
};

// Two-character spellings come first so that "<<" is never read as "<".
// Levels: higher binds tighter; + and - bind tighter than the shifts, which
// bind tighter than the bitwise operators, as in C.
constexpr std::array<OperatorSpelling, 18> kOperators = {{
    {"<<", BinaryOperator::shift_left, 8},
    {">>", BinaryOperator::shift_right, 8},
    {"&&", BinaryOperator::logical_and, 2},
    {"||", BinaryOperator::logical_or, 1},
    {"==", BinaryOperator::equal, 3},
    {"!=", BinaryOperator::not_equal, 3},
    {"<=", BinaryOperator::less_equal, 4},
    {">=", BinaryOperator::greater_equal, 4},
    {"%", BinaryOperator::remainder, 10},
    {"&", BinaryOperator::bit_and, 7},
    {"*", BinaryOperator::multiply, 10},
    {"+", BinaryOperator::add, 9},
    {"-", BinaryOperator::subtract, 9},
    {"/", BinaryOperator::divide, 10},
    {"<", BinaryOperator::less, 4},
    {">", BinaryOperator::greater, 4},
    {"^", BinaryOperator::bit_xor, 6},
    {"|", BinaryOperator::bit_or, 5},
}};

std::optional<OperatorMatch> matchOperator(std::string_view rest) noexcept {
  for (const auto& spelling : kOperators)
    if (rest.starts_with(spelling.text)) return OperatorMatch{spelling.op, spelling.level, spelling.text.size()};
  return std::nullopt;
}

// Library namespaces whose dotted names may denote a builtin call.
constexpr std::array<std::string_view, 13> kNamespaces = {
    "load", "fs", "toml", "json", "bytes", "list", "map", "sym", "tokens", "operand", "match", "crypto", "deflate",
};


std::string_view trimExpressionText(std::string_view text) noexcept { return qovrin::trim(text, " \t\r\n"); }

// Counts one active parser frame for as long as it lives.
class NestingScope {
 public:
  explicit NestingScope(std::size_t& nesting) noexcept : nesting_(nesting) { ++nesting_; }
  ~NestingScope() { --nesting_; }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;
  bool tooDeep() const noexcept { return nesting_ > kMaxNesting || qovrin::workStackFull(); }

 private:
  std::size_t& nesting_;
};

qovrin::Status checkHeight(std::size_t height) {
  if (height > kMaxNodeDepth) return fail(Error::NestingTooDeep);
  return {};
}

// How many arguments the call whose list starts at `start` probably has: the
// commas outside quotes and inner brackets, plus one. Only a hint for
// reserving, so that a very wide call is stored once without the slack and
// the copies of a growing list; a wrong guess costs nothing else.
std::size_t argumentCountHint(std::string_view text, std::size_t start) noexcept {
  std::size_t commas = 0;
  std::size_t depth = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (qovrin::quoted_text::opener(qovrin::quoted_text::kSource, text, i) != 0) {
      i = qovrin::quoted_text::closingQuote(qovrin::quoted_text::kSource, text, i);
      if (i == std::string_view::npos) break;
    } else if (c == '(' || c == '{') {
      ++depth;
    } else if (c == ')' || c == '}') {
      if (depth == 0) break;
      --depth;
    } else if (c == ',' && depth == 0) {
      ++commas;
    }
  }
  return commas + 1;
}

}  // namespace

int bindingLevel(BinaryOperator op) noexcept {
  const auto spelling = std::ranges::find(kOperators, op, &OperatorSpelling::op);
  return spelling != kOperators.end() ? spelling->level : 0;
}

void ExpressionParser::skipWhiteSpace() noexcept {
  while (position_ < text_.size() && isWhiteSpace(text_[position_])) ++position_;
}

qovrin::Result<Node> ExpressionParser::parseExpression(int min_precedence) {
  auto parsed = parseBinary(min_precedence);
  if (!parsed) return fail(parsed.error());
  return std::move(parsed->node);
}

// Precedence climbing: operators of one level are folded left to right in
// this loop; only a tighter-binding right operand recurses.
auto ExpressionParser::parseBinary(int min_precedence) -> qovrin::Result<Parsed> {
  const NestingScope scope(nesting_);
  if (scope.tooDeep()) return fail(Error::NestingTooDeep);
  auto left = parseUnary();
  if (!left) return left;
  skipWhiteSpace();
  while (const auto match = matchOperator(text_.substr(position_))) {
    if (match->level < min_precedence) break;
    position_ += match->length;
    skipWhiteSpace();
    auto right = parseBinary(match->level + 1);
    if (!right) return right;
    // A walk goes on to a left operand that is itself an operation in a loop.
    const std::size_t height = left->node.kind() == NodeKind::binary ? std::max(left->height, 1 + right->height)
                                                                       : 1 + std::max(left->height, right->height);
    QOVRIN_TRY(checkHeight(height));
    left->node = Node::binaryOperation(match->op, std::move(left->node), std::move(right->node));
    left->height = height;
    skipWhiteSpace();
  }
  return left;
}

auto ExpressionParser::parseUnary() -> qovrin::Result<Parsed> {
  const NestingScope scope(nesting_);
  if (scope.tooDeep()) return fail(Error::NestingTooDeep);
  skipWhiteSpace();
  UnaryOperator op;
  switch (peek()) {
    case '+':
      op = UnaryOperator::plus;
      break;
    case '-':
      op = UnaryOperator::minus;
      break;
    case '~':
      op = UnaryOperator::bit_not;
      break;
    case '!':
      op = UnaryOperator::logical_not;
      break;
    default:
      return parsePrimary();
  }
  ++position_;
  auto operand = parseUnary();
  if (!operand) return operand;
  QOVRIN_TRY(checkHeight(operand->height + 1));
  return Parsed{Node::unaryOperation(op, std::move(operand->node)), operand->height + 1};
}

auto ExpressionParser::parsePrimary() -> qovrin::Result<Parsed> {
  skipWhiteSpace();
  if (atEnd()) return fail(Error::UnexpectedEof);
  const char c = peek();
  qovrin::Result<Parsed> primary = fail(Error::InvalidCharacter);
  if (c == '(') {
    ++position_;
    primary = parseBinary(1);
    if (!primary) return primary;
    skipWhiteSpace();
    if (atEnd()) return fail(Error::UnexpectedEof);
    if (peek() != ')') return fail(Error::InvalidToken);
    ++position_;
  } else if (isAsciiDigit(c)) {
    primary = parseNumber();
  } else if (c == '"' || c == '\'') {
    auto text = parseStringLiteral();
    if (!text) return fail(text.error());
    primary = Parsed{Node::withText(NodeKind::string, *text), 1};
  } else if (isWordStart(c)) {
    primary = parseName();
  } else if (c == '.') {
    return fail(Error::InvalidToken);
  }
  if (!primary) return primary;
  return parsePostfix(std::move(*primary));
}

auto ExpressionParser::parsePostfix(Parsed object) -> qovrin::Result<Parsed> {
  skipWhiteSpace();
  while (peek() == '.') {
    ++position_;
    if (atEnd()) return fail(Error::UnexpectedEof);
    if (!isWordStart(peek())) return fail(Error::InvalidToken);
    const std::size_t start = position_;
    while (isWordChar(peek())) ++position_;
    QOVRIN_TRY(checkHeight(object.height + 1));
    object.node = Node::fieldAccess(std::move(object.node), text_.substr(start, position_ - start));
    ++object.height;
    skipWhiteSpace();
  }
  return object;
}

auto ExpressionParser::parseNumber() -> qovrin::Result<Parsed> {
  const std::size_t end = numberTokenEnd(text_, position_);
  auto node = readNumberToken(text_.substr(position_, end - position_));
  if (!node) return fail(node.error());
  position_ = end;
  return Parsed{std::move(*node), 1};
}

auto ExpressionParser::parseName() -> qovrin::Result<Parsed> {
  const std::size_t start = position_;
  while (isWordChar(peek())) ++position_;
  const std::size_t segment_end = position_;
  const std::string_view segment = text_.substr(start, segment_end - start);
  if (peek() == '.' && qovrin::indexOfName(kNamespaces, segment)) {
    ++position_;
    while (isWordChar(peek())) ++position_;
    const std::string_view dotted = text_.substr(start, position_ - start);
    if (!isBuiltinName(dotted) || peek() != '(') position_ = segment_end;
  }
  const std::string_view name = text_.substr(start, position_ - start);

  if (name == "true" || name == "false") return Parsed{Node::booleanLiteral(name == "true"), 1};
  if (name == "b" && peek() == '"') {
    auto bytes = parseStringLiteral();
    if (!bytes) return fail(bytes.error());
    return Parsed{Node::withText(NodeKind::bytes, *bytes), 1};
  }
  if (peek() == '(') return parseBuiltinCall(name);
  auto mapped = mapSymbol(name, start, false);
  if (!mapped) return fail(mapped.error());
  return Parsed{Node::withText(NodeKind::identifier, *mapped), 1};
}

// The delimiter written twice stands for itself; there are no escapes.
qovrin::Result<std::string> ExpressionParser::parseStringLiteral() {
  const char delimiter = text_[position_++];
  std::string decoded;
  while (true) {
    const std::size_t close = text_.find(delimiter, position_);
    if (close == std::string_view::npos) {
      position_ = text_.size();
      return fail(Error::UnexpectedEof);
    }
    decoded.append(text_.substr(position_, close - position_));
    position_ = close + 1;
    if (position_ >= text_.size() || text_[position_] != delimiter) return decoded;
    decoded.push_back(delimiter);
    ++position_;
  }
}

auto ExpressionParser::parseBuiltinCall(std::string_view name) -> qovrin::Result<Parsed> {
  skipWhiteSpace();
  if (atEnd()) return fail(Error::UnexpectedEof);
  if (peek() != '(') return fail(Error::InvalidToken);
  ++position_;
  skipWhiteSpace();
  std::size_t height = 1;
  std::vector<BuiltinArgument> arguments;
  if (peek() == ')') {
    ++position_;
    return Parsed{Node::builtinCall(name, std::move(arguments)), height};
  }
  // Only the outer calls look ahead, so that no character is counted more
  // than twice however deeply calls nest.
  const NestingScope call_scope(open_calls_);
  if (open_calls_ <= 2) arguments.reserve(argumentCountHint(text_, position_));
  for (std::size_t index = 0;; ++index) {
    auto argument_height = parseBuiltinArgument(name, index, arguments);
    if (!argument_height) return fail(argument_height.error());
    height = std::max(height, *argument_height + 1);
    QOVRIN_TRY(checkHeight(height));
    skipWhiteSpace();
    if (atEnd()) return fail(Error::UnexpectedEof);
    if (peek() == ')') break;
    if (peek() != ',') return fail(Error::InvalidToken);
    ++position_;
  }
  ++position_;
  return Parsed{Node::builtinCall(name, std::move(arguments)), height};
}

// Appends one argument and returns the height it adds below the call (0 for
// names and raw text, which are no nodes).
qovrin::Result<std::size_t> ExpressionParser::parseBuiltinArgument(std::string_view name, std::size_t index,
                                                                   std::vector<BuiltinArgument>& arguments) {
  skipWhiteSpace();
  const std::size_t start = position_;
  if (identifier::isNameStart(peek())) {
    std::size_t word_end = start;
    while (word_end < text_.size() && identifier::isNameChar(text_[word_end])) ++word_end;
    const std::string_view word = text_.substr(start, word_end - start);
    std::size_t after = word_end;
    while (after < text_.size() && isWhiteSpace(text_[after])) ++after;
    const char next = after < text_.size() ? text_[after] : '\0';
    const bool dotted = word.find('.') != std::string_view::npos;

    const auto append = [&arguments](BuiltinArgument::Kind kind, std::string_view text) {
      arguments.emplace_back(kind, Node::withText(NodeKind::identifier, text));
    };
    if (next == '{') {
      position_ = after;
      auto raw = parseRawArgument(start);
      if (!raw) return fail(raw.error());
      append(BuiltinArgument::Kind::raw_text, *raw);
      return 0;
    }
    const bool ends_argument = next == ',' || next == ')';
    const bool verbatim = name == "sizeof" || name == "offset_of";
    if (ends_argument && !dotted && word != "true" && word != "false") {
      if (verbatim) {
        append(BuiltinArgument::Kind::bare_name, word);
      } else {
        auto text = mapSymbol(word, start, name == "label_addr");
        if (!text) return fail(text.error());
        append(BuiltinArgument::Kind::bare_name, *text);
      }
      position_ = after;
      return 0;
    }
    if (ends_argument && dotted && name == "offset_of" && index == 1) {
      position_ = after;
      append(BuiltinArgument::Kind::bare_name, word);
      return 0;
    }
  }
  auto expression = parseBinary(1);
  if (!expression) return fail(expression.error());
  arguments.emplace_back(BuiltinArgument::Kind::expression, std::move(expression->node));
  return expression->height;
}

// A struct literal handed to the evaluator unparsed: the name at `start`, then
// a braced field list whose quoted parts may hold braces of their own.
qovrin::Result<std::string_view> ExpressionParser::parseRawArgument(std::size_t start) {
  std::size_t depth = 0;
  while (true) {
    if (atEnd()) return fail(Error::UnexpectedEof);
    const char c = text_[position_];
    if (qovrin::quoted_text::opener(qovrin::quoted_text::kSource, text_, position_) != 0) {
      const std::size_t end = qovrin::quoted_text::closeAfter(qovrin::quoted_text::kSource, c, text_, position_ + 1);
      if (end == std::string_view::npos) return fail(Error::InvalidToken);
      position_ = end;
      continue;
    }
    ++position_;
    if (c == '{') {
      ++depth;
    } else if (c == '}') {
      if (depth == 0) return fail(Error::InvalidToken);
      if (--depth == 0) break;
    }
  }
  return trimExpressionText(text_.substr(start, position_ - start));
}

qovrin::Result<std::string> ExpressionParser::mapSymbol(std::string_view identifier, std::size_t offset,
                                                        bool label_address) {
  if (mapper_) return mapper_(identifier, offset, label_address);
  return std::string(identifier);
}

qovrin::Result<Node> parseOwned(std::string_view text) {
  const std::string_view trimmed = trimExpressionText(text);
  ExpressionParser parser(trimmed);
  auto node = parser.parseExpression(1);
  if (!node) return node;
  std::string_view rest = trimmed.substr(parser.position());
  while (!rest.empty() && isWhiteSpace(rest.front())) rest.remove_prefix(1);
  if (!rest.empty()) return fail(Error::InvalidToken);
  return node;
}

}  // namespace frontend::expr
