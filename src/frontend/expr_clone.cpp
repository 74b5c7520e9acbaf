#include "frontend/expr.hpp"

namespace frontend::expr {

// Parsed trees are at most kMaxNodeDepth high, which bounds this recursion.
Node clone(const Node& node) {
  Node copy;
  copy.kind = node.kind;
  if (node.kind == NodeKind::float64)
    copy.number = node.number;
  else
    copy.integer = node.integer;
  copy.boolean = node.boolean;
  copy.unary_operator = node.unary_operator;
  copy.binary_operator = node.binary_operator;
  copy.text = node.text;
  if (node.left) copy.left = std::make_unique<Node>(clone(*node.left));
  if (node.right) copy.right = std::make_unique<Node>(clone(*node.right));
  copy.arguments.reserve(node.arguments.size());
  for (const auto& argument : node.arguments) copy.arguments.push_back(clone(argument));
  return copy;
}

BuiltinArgument clone(const BuiltinArgument& argument) {
  BuiltinArgument copy;
  copy.kind = argument.kind;
  copy.text = argument.text;
  if (argument.expression) copy.expression = std::make_unique<Node>(clone(*argument.expression));
  return copy;
}

}  // namespace frontend::expr
