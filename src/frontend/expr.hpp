#pragma once
// Expression trees of the meta language and the parser that builds them.
//
// Trees are plain owning data. The parser bounds their height by
// kMaxNodeDepth, so every recursive walk over a parsed tree (evaluation,
// cloning, destruction) stays far inside the stack.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"

namespace frontend::expr {

inline constexpr std::size_t kMaxNodeDepth = 1000;

enum class NodeKind : std::uint8_t {
  integer = 0,
  float64 = 1,
  boolean = 2,
  string = 3,
  bytes = 4,
  identifier = 5,
  field_access = 6,
  builtin_call = 7,
  unary = 8,
  binary = 9,
};

enum class UnaryOperator : std::uint8_t { plus = 0, minus = 1, bit_not = 2, logical_not = 3 };

enum class BinaryOperator : std::uint8_t {
  logical_or = 0,
  logical_and = 1,
  equal = 2,
  not_equal = 3,
  less = 4,
  less_equal = 5,
  greater = 6,
  greater_equal = 7,
  add = 8,
  subtract = 9,
  multiply = 10,
  divide = 11,
  remainder = 12,
  shift_left = 13,
  shift_right = 14,
  bit_and = 15,
  bit_or = 16,
  bit_xor = 17,
};

struct Node;

struct BuiltinArgument {
  enum class Kind : std::uint8_t { expression = 0, bare_name = 1, raw_text = 2 };
  Kind kind = Kind::expression;
  std::unique_ptr<Node> expression;  // Kind::expression
  std::string text;                  // Kind::bare_name (the name), Kind::raw_text (a struct literal)
};

// One node; which members are meaningful depends on kind:
//   integer: integer; float64: number; boolean: boolean;
//   string, bytes: text (decoded characters / bytes); identifier: text (name);
//   field_access: left (object), text (field name);
//   builtin_call: text (name), arguments;
//   unary: left (operand), unary_operator; binary: left, right, binary_operator.
// A call with millions of arguments holds a node for each, so nodes stay
// lean: the one-byte members share one word, and the integer and the float
// (never both meaningful) share another.
struct Node {
  NodeKind kind = NodeKind::integer;
  bool boolean = false;
  UnaryOperator unary_operator = UnaryOperator::plus;
  BinaryOperator binary_operator = BinaryOperator::add;
  union {
    std::uint64_t integer = 0;
    double number;
  };
  std::string text;
  std::unique_ptr<Node> left;
  std::unique_ptr<Node> right;
  std::vector<BuiltinArgument> arguments;
};

// Deep copy of a tree.
Node clone(const Node& node);
BuiltinArgument clone(const BuiltinArgument& argument);

// Rewrites identifiers while a tree is built (macro expansion). Receives the
// identifier, its byte offset in the expression text, and whether it is the
// bare-name argument of label_addr; returns the replacement text.
using SymbolMapper =
    std::function<qovrin::Result<std::string>(std::string_view identifier, std::size_t offset, bool label_address)>;

class ExpressionParser {
 public:
  ExpressionParser(std::string_view text, SymbolMapper mapper = {}) : text_(text), mapper_(std::move(mapper)) {}

  // Parses one expression whose operators bind at least as tightly as
  // min_precedence (1 takes a whole expression) and leaves the position after
  // it and any white space, before the first character that cannot continue
  // it (such as ",", ")" or a lone "="). Levels, loosest first: || 1, && 2,
  // == != 3, < <= > >= 4, | 5, ^ 6, & 7, << >> 8, + - 9, * / % 10; each is
  // left-associative. Too deep nesting, or a tree higher than kMaxNodeDepth,
  // fails with NestingTooDeep.
  qovrin::Result<Node> parseExpression(int min_precedence);

  std::size_t position() const noexcept { return position_; }
  std::string_view text() const noexcept { return text_; }

 private:
  // A subtree together with its height (a lone leaf has height 1), so that
  // every node built can be checked against kMaxNodeDepth without a walk.
  struct Parsed {
    Node node;
    std::size_t height = 1;
  };

  qovrin::Result<Parsed> parseBinary(int min_precedence);
  qovrin::Result<Parsed> parseUnary();
  qovrin::Result<Parsed> parsePostfix(Parsed object);
  qovrin::Result<Parsed> parsePrimary();
  qovrin::Result<Parsed> parseName();
  qovrin::Result<Parsed> parseNumber();
  qovrin::Result<std::string> parseStringLiteral();
  qovrin::Result<Parsed> parseBuiltinCall(std::string_view name);
  qovrin::Result<std::size_t> parseBuiltinArgument(std::string_view name, std::size_t index,
                                                   std::vector<BuiltinArgument>& arguments);
  qovrin::Result<std::string> parseRawArgument(std::size_t start);
  qovrin::Result<std::string> mapSymbol(std::string_view identifier, std::size_t offset, bool label_address);

  void skipWhiteSpace() noexcept;
  char peek() const noexcept { return position_ < text_.size() ? text_[position_] : '\0'; }
  bool atEnd() const noexcept { return position_ >= text_.size(); }

  std::string_view text_;
  SymbolMapper mapper_;
  std::size_t position_ = 0;
  std::size_t nesting_ = 0;  // active parseBinary and parseUnary frames
};

// Parses text (trimmed of space, tab, CR, LF) as exactly one expression.
qovrin::Result<Node> parseOwned(std::string_view text);

// A number token without its digit separators (' and _), in lower case.
std::string normalizeNumberToken(std::string_view token);

}  // namespace frontend::expr
