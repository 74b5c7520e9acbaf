#include <utility>

#include "frontend/expr.hpp"

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

// Parsed trees are at most kMaxNodeDepth high, which bounds this recursion.
void Node::destroy() noexcept {
  if (ownsText(header_.kind))
    delete text_;
  else if (ownsBranch(header_.kind))
    delete branch_;
  release();
}

Node Node::integerLiteral(std::uint64_t value) noexcept {
  Node node;
  node.integer_ = value;
  return node;
}

Node Node::floatLiteral(double value) noexcept {
  Node node;
  node.header_.kind = NodeKind::float64;
  node.number_ = value;
  return node;
}

Node Node::booleanLiteral(bool value) noexcept {
  Node node;
  node.header_.kind = NodeKind::boolean;
  node.header_.boolean = value;
  return node;
}

Node Node::withText(NodeKind kind, std::string_view text) { return withText(kind, std::string(text)); }

Node Node::withText(NodeKind kind, std::string&& text) {
  Node node;
  node.text_ = new std::string(std::move(text));
  node.header_.kind = kind;
  return node;
}

Node Node::withBranch(NodeKind kind, Branch* branch) noexcept {
  Node node;
  node.header_.kind = kind;
  node.branch_ = branch;
  return node;
}

Node Node::fieldAccess(Node object, std::string_view field) {
  auto* branch = new Branch{std::move(object), Node(), std::string(field), {}};
  return withBranch(NodeKind::field_access, branch);
}

Node Node::builtinCall(std::string_view name, std::vector<BuiltinArgument> arguments) {
  auto* branch = new Branch{Node(), Node(), std::string(name), std::move(arguments)};
  return withBranch(NodeKind::builtin_call, branch);
}

Node Node::unaryOperation(UnaryOperator op, Node operand) {
  Node node = withBranch(NodeKind::unary, new Branch{std::move(operand), Node(), {}, {}});
  node.header_.unary_operator = op;
  return node;
}

Node Node::binaryOperation(BinaryOperator op, Node left, Node right) {
  Node node = withBranch(NodeKind::binary, new Branch{std::move(left), std::move(right), {}, {}});
  node.header_.binary_operator = op;
  return node;
}

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
      return Node::binaryOperation(node.binaryOperator(), clone(node.left()), clone(node.right()));
  }
  return Node();
}

BuiltinArgument clone(const BuiltinArgument& argument) {
  return BuiltinArgument{argument.kind(), clone(argument.node())};
}

}  // namespace frontend::expr
