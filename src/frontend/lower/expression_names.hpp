#pragma once
// The names an expression reads, walked in source order, for notes that name
// the one a failure is about.

#include "frontend/syntax/expr.hpp"

namespace frontend::lower::expression_names {

// The first identifier or builtin call of the tree, in source order (a call
// before its arguments), that `picks` takes; field names and names a builtin
// reads itself are not visited.
template <typename Picks>
const expr::Node* firstNode(const expr::Node& node, const Picks& picks) {
  switch (node.kind()) {
    case expr::NodeKind::identifier:
      return picks(node) ? &node : nullptr;
    case expr::NodeKind::binary: {
      const expr::LeftChain chain(node);
      const expr::Node* found = firstNode(chain.first(), picks);
      for (std::size_t index = 0; index < chain.size() && found == nullptr; ++index)
        found = firstNode(chain.link(index).right(), picks);
      return found;
    }
    case expr::NodeKind::unary:
    case expr::NodeKind::field_access:
      return firstNode(node.left(), picks);
    case expr::NodeKind::builtin_call:
      if (picks(node)) return &node;
      for (const expr::BuiltinArgument& argument : node.arguments())
        if (argument.kind() == expr::BuiltinArgument::Kind::expression)
          if (const expr::Node* found = firstNode(argument.node(), picks)) return found;
      return nullptr;
    default:
      return nullptr;
  }
}

}  // namespace frontend::lower::expression_names
