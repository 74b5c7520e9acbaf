#include "frontend/lower/deferred.hpp"

#include <array>
#include <string_view>

#include "frontend/lower/diagnostic_format.hpp"
#include "frontend/value.hpp"

namespace frontend::lower::deferred {

namespace {

// Indexed by BinaryOperator.
constexpr std::array<std::string_view, 18> kBinaryOperators = {
    "||", "&&", "==", "!=", "<", "<=", ">", ">=", "+", "-", "*", "/", "%", "<<", ">>", "&", "|", "^",
};

// Indexed by UnaryOperator.
constexpr std::array<std::string_view, 4> kUnaryOperators = {"+", "-", "~", "!"};

void render(std::string& out, const expr::Node& node) {
  using expr::NodeKind;
  switch (node.kind) {
    case NodeKind::integer:
      out += std::to_string(node.integer);
      return;
    case NodeKind::float64:
      value::appendFloatLiteral(out, node.number);
      return;
    case NodeKind::boolean:
      out += node.boolean ? "true" : "false";
      return;
    case NodeKind::string:
      out += diagnostic_format::formatStringLiteral(node.text);
      return;
    case NodeKind::bytes:
      out += diagnostic_format::formatBytesValue(
          std::span(reinterpret_cast<const std::uint8_t*>(node.text.data()), node.text.size()));
      return;
    case NodeKind::identifier:
      out += node.text;
      return;
    case NodeKind::field_access:
      render(out, *node.left);
      out += '.';
      out += node.text;
      return;
    case NodeKind::builtin_call: {
      out += node.text;
      out += '(';
      bool first = true;
      for (const expr::BuiltinArgument& argument : node.arguments) {
        if (!first) out += ", ";
        first = false;
        if (argument.kind == expr::BuiltinArgument::Kind::expression)
          render(out, *argument.expression);
        else
          out += argument.text;
      }
      out += ')';
      return;
    }
    case NodeKind::unary:
      out += '(';
      out += kUnaryOperators[static_cast<std::size_t>(node.unary_operator)];
      render(out, *node.left);
      out += ')';
      return;
    case NodeKind::binary:
      out += '(';
      render(out, *node.left);
      out += ' ';
      out += kBinaryOperators[static_cast<std::size_t>(node.binary_operator)];
      out += ' ';
      render(out, *node.right);
      out += ')';
      return;
  }
}

}  // namespace

std::string renderExpressionSource(const expr::Node& node) {
  std::string out;
  render(out, node);
  return out;
}

}  // namespace frontend::lower::deferred
