#include <cstring>
#include <utility>

#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"

namespace frontend::expr {

Node& Node::operator=(Node&& other) noexcept {
  if (this != &other) {
    destroy();
    header_ = other.header_;
    integer_ = other.integer_;
    other.release();
  }
  return *this;
}

// Parsed trees nest at most kMaxNodeDepth deep, which bounds this recursion;
// a left chain is taken apart in a loop, link by link from the top.
void Node::destroy() noexcept {
  switch (header_.kind) {
    case NodeKind::string:
    case NodeKind::bytes:
    case NodeKind::identifier:
      delete[] text_;
      break;
    case NodeKind::unary:
      delete operand_;
      break;
    case NodeKind::binary:
      for (Operands* link = operands_; link != nullptr;) {
        Operands* below = link->left.header_.kind == NodeKind::binary ? link->left.operands_ : nullptr;
        if (below != nullptr) link->left.release();
        delete link;
        link = below;
      }
      break;
    case NodeKind::field_access:
      delete access_;
      break;
    case NodeKind::builtin_call:
      delete call_;
      break;
    default:
      break;
  }
  release();
}

Node Node::ofKind(NodeKind kind) noexcept {
  Node node;
  node.header_.kind = kind;
  return node;
}

const Node& Node::noChild() noexcept {
  static const Node none;
  return none;
}

Node Node::floatLiteral(double value) noexcept {
  Node node = ofKind(NodeKind::float64);
  node.number_ = value;
  return node;
}

Node Node::booleanLiteral(bool value) noexcept {
  Node node = ofKind(NodeKind::boolean);
  node.header_.boolean = value;
  return node;
}

// Each owned part is allocated before the node takes its kind, so a failed
// allocation leaves nothing behind.
Node Node::withText(NodeKind kind, std::string_view text) {
  const std::size_t size = text.size();
  char* block = new char[sizeof size + size];
  std::memcpy(block, &size, sizeof size);
  std::memcpy(block + sizeof size, text.data(), size);
  Node node = ofKind(kind);
  node.text_ = block;
  return node;
}

Node Node::fieldAccess(Node object, std::string_view field) {
  const bool runs_code = object.runsCode();
  auto* access = new Access{std::move(object), std::string(field)};
  Node node = ofKind(NodeKind::field_access);
  node.access_ = access;
  node.header_.runs_code = runs_code;
  return node;
}

Node Node::builtinCall(std::string_view name, std::vector<BuiltinArgument> arguments) {
  auto* call = new Call{std::string(name), std::move(arguments)};
  Node node = ofKind(NodeKind::builtin_call);
  node.call_ = call;
  const auto place = expr::builtinPlace(name);
  if (place) call->builtin_place = *place;
  bool literal = false;
  for (std::size_t index = 0; index < call->arguments.size(); ++index) {
    const BuiltinArgument& argument = call->arguments[index];
    const bool raw = argument.kind() == BuiltinArgument::Kind::raw_text;
    literal = literal || raw;
    if (raw || argument.node().runsCode()) call->running_arguments_end = static_cast<std::uint32_t>(index + 1);
  }
  node.header_.runs_code = !place || name == "operand.eval" || literal || call->running_arguments_end != 0;
  return node;
}

Node Node::unaryOperation(UnaryOperator op, Node operand) {
  const bool runs_code = operand.runsCode();
  auto* owned = new Node(std::move(operand));
  Node node = ofKind(NodeKind::unary);
  node.operand_ = owned;
  node.header_.unary_operator = op;
  node.header_.runs_code = runs_code;
  return node;
}

Node Node::binaryOperation(BinaryOperator op, Node left, Node right) {
  const bool runs_code = left.runsCode() || right.runsCode();
  auto* operands = new Operands{std::move(left), std::move(right)};
  Node node = ofKind(NodeKind::binary);
  node.operands_ = operands;
  node.header_.binary_operator = op;
  node.header_.runs_code = runs_code;
  return node;
}

LeftChain::LeftChain(const Node& top) {
  const Node* node = &top;
  for (; node->kind() == NodeKind::binary; node = &node->left()) {
    if (size_ < kInline) {
      near_[size_] = node;
    } else {
      if (size_ == kInline) far_.assign(near_.begin(), near_.end());
      far_.push_back(node);
    }
    ++size_;
  }
  first_ = node;
}

namespace {

Node cloneChain(const LeftChain& chain) {
  Node copy = clone(chain.first());
  for (std::size_t index = 0; index < chain.size(); ++index) {
    const Node& link = chain.link(index);
    copy = Node::binaryOperation(link.binaryOperator(), std::move(copy), clone(link.right()));
  }
  return copy;
}

}  // namespace

Node clone(const Node& node) {
  switch (node.kind()) {
    case NodeKind::integer:
      return Node::integerLiteral(node.integer());
    case NodeKind::float64:
      return Node::floatLiteral(node.number());
    case NodeKind::boolean:
      return Node::booleanLiteral(node.boolean());
    case NodeKind::string:
    case NodeKind::bytes:
    case NodeKind::identifier:
      return Node::withText(node.kind(), node.text());
    case NodeKind::field_access:
      return Node::fieldAccess(clone(node.left()), node.text());
    case NodeKind::builtin_call: {
      std::vector<BuiltinArgument> arguments;
      arguments.reserve(node.arguments().size());
      for (const auto& argument : node.arguments()) arguments.push_back(clone(argument));
      return Node::builtinCall(node.text(), std::move(arguments));
    }
    case NodeKind::unary:
      return Node::unaryOperation(node.unaryOperator(), clone(node.left()));
    case NodeKind::binary:
      return cloneChain(LeftChain(node));
  }
  return Node();
}

BuiltinArgument clone(const BuiltinArgument& argument) {
  return BuiltinArgument{argument.kind(), clone(argument.node())};
}

}  // namespace frontend::expr
