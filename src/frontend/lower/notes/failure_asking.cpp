#include "frontend/lower/notes/failure_asking.hpp"
#include "frontend/lower/reading.hpp"

#include <cinttypes>
#include <cstdio>
#include <unordered_map>


namespace frontend::lower::failure_asking {

using expr::Node;
using expr::NodeKind;
using qovrin::Error;

std::vector<const Node*> expressionsOf(const ast::Statement& statement, std::deque<Node>& parsed) {
  std::vector<const Node*> roots;
  const auto fromValue = [&](const ast::StructLiteralValue& value) {
    if (!ast::isStructLiteral(value)) roots.push_back(&ast::expressionOf(value));
  };
  const auto fromText = [&](std::string_view text) {
    if (auto tree = expr::parseOwned(text)) roots.push_back(&parsed.emplace_back(std::move(*tree)));
  };
  if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload)) {
    for (const ast::ApiCallArgument& argument : call->arguments)
      if (const Node* node = argument.expression()) roots.push_back(node);
  } else if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload)) {
    fromValue(declaration->initializer);
  } else if (const auto* assignment = std::get_if<ast::AssignmentStatement>(&statement.payload)) {
    fromValue(assignment->value);
  } else if (const auto* condition = std::get_if<ast::MetaIfStatement>(&statement.payload)) {
    fromText(condition->condition);
  } else if (const auto* loop = std::get_if<ast::MetaWhileStatement>(&statement.payload)) {
    fromText(loop->condition);
  } else if (const auto* returned = std::get_if<ast::ReturnStatement>(&statement.payload)) {
    roots.push_back(&returned->value);
  }
  return roots;
}

namespace {

// Every node of the trees with its parts before it, so that the first
// failing node met is the innermost one.
void innermostFirst(const Node& node, std::vector<const Node*>& out) {
  switch (node.kind()) {
    case NodeKind::binary: {
      const expr::LeftChain chain(node);
      innermostFirst(chain.first(), out);
      for (std::size_t index = 0; index + 1 < chain.size(); ++index) {
        innermostFirst(chain.link(index).right(), out);
        out.push_back(&chain.link(index));
      }
      innermostFirst(node.right(), out);
      break;
    }
    case NodeKind::unary:
    case NodeKind::field_access:
      innermostFirst(node.left(), out);
      break;
    case NodeKind::builtin_call:
      for (const expr::BuiltinArgument& argument : node.arguments())
        if (argument.kind() == expr::BuiltinArgument::Kind::expression) innermostFirst(argument.node(), out);
      break;
    default:
      break;
  }
  out.push_back(&node);
}

}  // namespace

std::vector<const Node*> allNodes(const std::vector<const Node*>& roots) {
  std::vector<const Node*> nodes;
  for (const Node* root : roots) innermostFirst(*root, nodes);
  return nodes;
}

const Node* innermostFailing(const Asking& asking, const std::vector<const Node*>& nodes, Error error,
                             qovrin::Error* raw) {
  // What is known of each operation met, until the one whose left operand it
  // is takes it: so each link of a long chain is looked at once, not again
  // with everything below it.
  struct Operation {
    bool loads = false;
    std::optional<value::Value> value;
  };
  std::unordered_map<const Node*, Operation> below;
  for (const Node* node : nodes) {
    if (node->kind() != NodeKind::identifier && node->kind() != NodeKind::builtin_call &&
        node->kind() != NodeKind::binary && node->kind() != NodeKind::unary)
      continue;
    const bool binary = node->kind() == NodeKind::binary;
    const bool link = binary && below.contains(&node->left());
    Operation left;
    if (link) left = std::move(below.extract(&node->left()).mapped());
    if (link ? left.loads || expr::usesOutputLoad(node->right()) : expr::usesOutputLoad(*node)) {
      if (binary) below.emplace(node, Operation{true, std::nullopt});
      continue;
    }
    auto value = left.value ? expr::evaluateLink(*node, *left.value, asking.evaluation()) : asking.evaluate(*node);
    if (value) {
      if (binary) below.emplace(node, Operation{false, std::move(*value)});
      continue;
    }
    if (expression_bridge::mapExpressionError(value.error()) != error) return nullptr;
    if (raw != nullptr) *raw = value.error();
    return node;
  }
  return nullptr;
}

const Node* failingCall(const Asking& asking, const std::vector<const Node*>& nodes,
                        std::initializer_list<std::string_view> names) {
  for (const Node* node : nodes)
    if (node->kind() == NodeKind::builtin_call && std::ranges::find(names, node->text()) != names.end() &&
        !asking.evaluate(*node))
      return node;
  return nullptr;
}

std::optional<std::string> stringArgument(const Asking& asking, const Node& call, std::size_t index) {
  if (index >= call.arguments().size()) return std::nullopt;
  const auto value = asking.evaluate(call.arguments()[index]);
  if (!value || value->asString() == nullptr) return std::nullopt;
  return *value->asString();
}

std::optional<std::uint64_t> integerArgument(const Asking& asking, const Node& call, std::size_t index) {
  if (index >= call.arguments().size()) return std::nullopt;
  const auto value = asking.evaluate(call.arguments()[index]);
  if (!value || value->asInteger() == nullptr) return std::nullopt;
  return value->asInteger()->word;
}

std::string argumentCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

std::string byteCount(std::uint64_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

std::string hexNumber(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIx64, value);
  return text;
}

std::string wordText(std::uint64_t word, const expr::Node& written, const module::Module& module) {
  const auto reads_address = [&module](const Node* node) {
    if (node->kind() == expr::NodeKind::builtin_call) return node->text() == "here";
    if (node->kind() != expr::NodeKind::identifier) return false;
    const symbol::Symbol* symbol = module.findSymbol(node->text());
    return symbol != nullptr && symbol->label() != nullptr;
  };
  const auto signed_word = static_cast<std::int64_t>(word);
  if (signed_word >= 0 || std::ranges::any_of(allNodes({&written}), reads_address)) return std::to_string(word);
  return std::to_string(signed_word);
}

std::string valueText(const value::Value& value) {
  std::string text;
  diagnostic_format::appendValueText(text, value);
  return text;
}

}  // namespace frontend::lower::failure_asking
