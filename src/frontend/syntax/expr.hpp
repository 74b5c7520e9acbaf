#pragma once
// Expression trees of the meta language and the parser that builds them.
//
// Trees are plain owning data. A chain of left-associative operators, such as
// a sum of 5,000 terms, is a tree as high as the chain is long; every walk
// goes down such a chain in a loop (LeftChain) and recurses only into the
// other children. The parser bounds the depth of that recursion, the nesting
// as written, by kMaxNodeDepth, so every walk over a parsed tree (evaluation,
// cloning, destruction) stays far inside the stack.

#include <cstddef>
#include <cstdint>
#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
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

struct BuiltinArgument;

// One node of a tree, two words wide: the kind with the one-byte payloads,
// and one word that holds either the number of a literal or the node's owned
// storage. A call with millions of literal arguments thus needs no storage
// beyond its argument records. What each kind carries:
//   integer: integer(); float64: number(); boolean: boolean();
//   string, bytes: text() (decoded characters / bytes); identifier: text() (name);
//   field_access: left() (object), text() (field name);
//   builtin_call: text() (name), arguments();
//   unary: left() (operand), unaryOperator(); binary: left(), right(), binaryOperator().
class Node {
 public:
  Node() noexcept : integer_(0) {}
  Node(Node&& other) noexcept : header_(other.header_), integer_(other.integer_) { other.release(); }
  Node& operator=(Node&& other) noexcept;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  // Most nodes are literals that own nothing; those never leave the caller.
  ~Node() {
    if (header_.kind >= NodeKind::string) destroy();
  }

  // Inline: data lines build millions of these, and a node made out of line
  // is read back whole over the narrow writes of its header just made, which
  // waits until they are done.
  static Node integerLiteral(std::uint64_t value) noexcept {
    Node node;
    node.integer_ = value;
    return node;
  }
  static Node floatLiteral(double value) noexcept;
  static Node booleanLiteral(bool value) noexcept;
  // kind is string, bytes or identifier.
  static Node withText(NodeKind kind, std::string_view text);
  static Node fieldAccess(Node object, std::string_view field);
  static Node builtinCall(std::string_view name, std::vector<BuiltinArgument> arguments);
  static Node unaryOperation(UnaryOperator op, Node operand);
  static Node binaryOperation(BinaryOperator op, Node left, Node right);

  NodeKind kind() const noexcept { return header_.kind; }
  std::uint64_t integer() const noexcept { return header_.kind == NodeKind::integer ? integer_ : 0; }
  double number() const noexcept { return header_.kind == NodeKind::float64 ? number_ : 0.0; }
  bool boolean() const noexcept { return header_.boolean; }
  UnaryOperator unaryOperator() const noexcept { return header_.unary_operator; }
  BinaryOperator binaryOperator() const noexcept { return header_.binary_operator; }
  // Empty for kinds without text.
  std::string_view text() const noexcept;
  // The children of the kinds that have them (see above); an integer 0 for
  // any other kind.
  const Node& left() const noexcept;
  const Node& right() const noexcept;
  std::span<const BuiltinArgument> arguments() const noexcept;

  // Facts the evaluator asks of a tree on every evaluation, found once when
  // the node is built, since the tree never changes. Whether evaluating the
  // tree may run code written elsewhere, which may assign any binding: a call
  // of a value function (any name but a builtin's), operand.eval, or a call
  // with a struct literal argument.
  bool runsCode() const noexcept { return header_.runs_code; }
  // A call's place among the builtin names (builtinPlace), none for a call
  // of a value function.
  std::optional<std::uint16_t> builtinPlace() const noexcept;
  // One past the last argument of a call that may run code (an expression
  // that does, or a struct literal); 0 when none does.
  std::size_t runningArgumentsEnd() const noexcept;

 protected:
  // A byte that the records built on a node may use to say what the node
  // stands for (an argument's kind), so that they are no wider than the
  // node. A node moves it along and never reads it.
  std::uint8_t holderTag() const noexcept { return header_.holder_tag; }
  void setHolderTag(std::uint8_t tag) noexcept { header_.holder_tag = tag; }

 private:
  struct Operands;
  struct Access;
  struct Call;

  struct Header {
    NodeKind kind = NodeKind::integer;
    bool boolean = false;
    UnaryOperator unary_operator = UnaryOperator::plus;
    BinaryOperator binary_operator = BinaryOperator::add;
    std::uint8_t holder_tag = 0;
    bool runs_code = false;
  };

  static Node ofKind(NodeKind kind) noexcept;
  static std::string_view storedText(const char* block) noexcept {
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    return {block + sizeof size, size};
  }
  static const Node& noChild() noexcept;

  // Leaves this node an integer literal 0 without freeing what it held.
  void release() noexcept {
    header_ = Header{};
    integer_ = 0;
  }
  void destroy() noexcept;

  Header header_;
  union {
    std::uint64_t integer_;
    double number_;
    // string, bytes, identifier: one block, the size and then the characters,
    // so that a short name costs one small allocation.
    char* text_;
    Node* operand_;       // unary
    Operands* operands_;  // binary
    Access* access_;      // field_access
    Call* call_;          // builtin_call
  };
};

// One argument of a builtin call, as wide as its node.
class BuiltinArgument : private Node {
 public:
  enum class Kind : std::uint8_t { expression = 0, bare_name = 1, raw_text = 2 };

  // Kind::expression: the tree; Kind::bare_name (the name) and Kind::raw_text
  // (a struct literal) keep their text in an identifier node.
  BuiltinArgument(Kind kind, Node node) noexcept : Node(std::move(node)) {
    setHolderTag(static_cast<std::uint8_t>(kind));
  }

  Kind kind() const noexcept { return static_cast<Kind>(holderTag()); }
  const Node& node() const noexcept { return *this; }
  std::string_view text() const noexcept { return Node::text(); }
};

// What the inner nodes own beyond their two words, each only what its kind
// needs.
struct Node::Operands {
  Node left;
  Node right;
};

struct Node::Access {
  Node object;
  std::string field;
};

struct Node::Call {
  std::string name;
  std::vector<BuiltinArgument> arguments;
  std::uint16_t builtin_place = kNoBuiltinPlace;
  std::uint32_t running_arguments_end = 0;

  static constexpr std::uint16_t kNoBuiltinPlace = 0xffff;
};

inline std::string_view Node::text() const noexcept {
  switch (header_.kind) {
    case NodeKind::string:
    case NodeKind::bytes:
    case NodeKind::identifier:
      return storedText(text_);
    case NodeKind::field_access:
      return access_->field;
    case NodeKind::builtin_call:
      return call_->name;
    default:
      return {};
  }
}

inline const Node& Node::left() const noexcept {
  switch (header_.kind) {
    case NodeKind::unary:
      return *operand_;
    case NodeKind::field_access:
      return access_->object;
    case NodeKind::binary:
      return operands_->left;
    default:
      return noChild();
  }
}

inline const Node& Node::right() const noexcept {
  return header_.kind == NodeKind::binary ? operands_->right : noChild();
}

inline std::span<const BuiltinArgument> Node::arguments() const noexcept {
  if (header_.kind != NodeKind::builtin_call) return {};
  return call_->arguments;
}

inline std::optional<std::uint16_t> Node::builtinPlace() const noexcept {
  if (header_.kind != NodeKind::builtin_call || call_->builtin_place == Call::kNoBuiltinPlace) return std::nullopt;
  return call_->builtin_place;
}

inline std::size_t Node::runningArgumentsEnd() const noexcept {
  return header_.kind == NodeKind::builtin_call ? call_->running_arguments_end : 0;
}

static_assert(sizeof(Node) == 16 && sizeof(BuiltinArgument) == 16);

// The binary nodes down the left edge of a tree, gathered without recursion:
// for 1 + 2 + 3, that is (1 + 2) + 3 and 1 + 2, and 1 is the first operand.
// Links are numbered from the innermost, so that link(0).right() is the
// second operand and link(size() - 1) the top node. A node that is no binary
// operation is a chain of no links whose first operand is the node itself.
class LeftChain {
 public:
  explicit LeftChain(const Node& top);

  std::size_t size() const noexcept { return size_; }
  const Node& link(std::size_t index) const noexcept {
    return *(size_ <= kInline ? near_[size_ - 1 - index] : far_[size_ - 1 - index]);
  }
  const Node& first() const noexcept { return *first_; }

 private:
  // Chains of a few links, the usual ones, need no allocation.
  static constexpr std::size_t kInline = 8;
  std::array<const Node*, kInline> near_;
  std::vector<const Node*> far_;
  std::size_t size_ = 0;
  const Node* first_ = nullptr;
};

// How tightly the operator binds (see parseExpression), from 1 for || to 10
// for * / %.
int bindingLevel(BinaryOperator op) noexcept;

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
  // left-associative. Nesting deeper than kMaxNodeDepth (a chain of one
  // level counts once) fails with NestingTooDeep, as does text that nests
  // parentheses and unary operators deeper than the parser's own bound.
  qovrin::Result<Node> parseExpression(int min_precedence);

  std::size_t position() const noexcept { return position_; }
  std::string_view text() const noexcept { return text_; }

 private:
  // A subtree together with its nesting: how deep a walk that goes down left
  // chains in a loop recurses into it (a lone leaf has 1). Every node built
  // is checked against kMaxNodeDepth without a walk.
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
  qovrin::Result<std::string_view> parseRawArgument(std::size_t start);
  qovrin::Result<std::string> mapSymbol(std::string_view identifier, std::size_t offset, bool label_address);

  void skipWhiteSpace() noexcept;
  char peek() const noexcept { return position_ < text_.size() ? text_[position_] : '\0'; }
  bool atEnd() const noexcept { return position_ >= text_.size(); }

  std::string_view text_;
  SymbolMapper mapper_;
  std::size_t position_ = 0;
  std::size_t nesting_ = 0;  // active parseBinary and parseUnary frames
  std::size_t open_calls_ = 0;  // builtin calls whose arguments are being parsed
};

// Parses text (trimmed of space, tab, CR, LF) as exactly one expression.
qovrin::Result<Node> parseOwned(std::string_view text);

// A number token without its digit separators (' and _), in lower case.
std::string normalizeNumberToken(std::string_view token);

}  // namespace frontend::expr
