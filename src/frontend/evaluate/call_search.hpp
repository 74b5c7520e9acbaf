#pragma once
// A search of an expression tree for calls: the node itself, the operands of
// operators, the object of a field access and the expression arguments of
// calls. Chains of operators are walked in a loop, other children by
// recursion, which the parser's depth bound keeps inside the stack.

#include <algorithm>

#include "frontend/syntax/expr.hpp"

namespace frontend::expr {

// Whether test(call) holds for any call in the tree.
template <typename Test>
bool anyCallIn(const Node& node, const Test& test) {
  switch (node.kind()) {
    case NodeKind::field_access:
    case NodeKind::unary:
      return anyCallIn(node.left(), test);
    case NodeKind::binary: {
      // The order does not matter to the answer.
      const Node* left = &node;
      for (; left->kind() == NodeKind::binary; left = &left->left())
        if (anyCallIn(left->right(), test)) return true;
      return anyCallIn(*left, test);
    }
    case NodeKind::builtin_call:
      return test(node) || std::ranges::any_of(node.arguments(), [&test](const BuiltinArgument& argument) {
               return argument.kind() == BuiltinArgument::Kind::expression && anyCallIn(argument.node(), test);
             });
    default:
      return false;
  }
}

}  // namespace frontend::expr
