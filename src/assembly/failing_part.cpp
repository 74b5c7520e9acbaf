#include "assembly/failing_part.hpp"

namespace assembly {

namespace {

using frontend::expr::Node;
using frontend::expr::NodeKind;

bool fails(const Node& part, const frontend::expr::EvaluationContext& context) {
  return !frontend::expr::evaluateValue(part, context).has_value();
}

// Of a chain, the lowest part that fails: the first operand, a right
// operand, or a link below the top one (whose own parts evaluate).
const Node* failingInChain(const frontend::expr::LeftChain& chain, const frontend::expr::EvaluationContext& context) {
  auto value = frontend::expr::evaluateValue(chain.first(), context);
  if (!value) return &chain.first();
  for (std::size_t index = 0; index < chain.size(); ++index) {
    const Node& link = chain.link(index);
    if (fails(link.right(), context)) return &link.right();
    value = frontend::expr::evaluateLink(link, *value, context);
    if (!value) return index + 1 < chain.size() ? &link : nullptr;
  }
  return nullptr;
}

const Node* failingPart(const Node& node, const frontend::expr::EvaluationContext& context) {
  switch (node.kind()) {
    case NodeKind::binary:
      return failingInChain(frontend::expr::LeftChain(node), context);
    case NodeKind::unary:
    case NodeKind::field_access:
      return fails(node.left(), context) ? &node.left() : nullptr;
    case NodeKind::builtin_call:
      for (const frontend::expr::BuiltinArgument& argument : node.arguments())
        if (argument.kind() == frontend::expr::BuiltinArgument::Kind::expression && fails(argument.node(), context))
          return &argument.node();
      return nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

const Node& innermostFailingPart(const Node& tree, const frontend::expr::EvaluationContext& context) {
  // A loop, not recursion: the way down a long chain is long.
  const Node* at = &tree;
  while (const Node* part = failingPart(*at, context)) at = part;
  return *at;
}

}  // namespace assembly
