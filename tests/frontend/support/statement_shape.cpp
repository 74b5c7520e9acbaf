#include "frontend/support/statement_shape.hpp"

#include <algorithm>
#include <charconv>

#include "frontend/syntax/parser.hpp"

namespace statement_shape {

namespace ast = frontend::ast;
namespace expr = frontend::expr;

namespace {

// Concatenation without "literal" + temporary, which g++ 12 at -O3 misreads
// as an overlapping copy.
std::string concat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (const std::string_view part : parts) out += part;
  return out;
}

// Each item as shown by show_item, separated by separator.
template <typename Items, typename Show>
std::string joined(const Items& items, Show show_item, std::string_view separator = ", ") {
  std::string out;
  for (const auto& item : items) {
    if (&item != &*std::begin(items)) out += separator;
    out += show_item(item);
  }
  return out;
}

const char* spelling(expr::BinaryOperator op) {
  constexpr const char* kNames[] = {"||", "&&", "==", "!=", "<",  "<=", ">", ">=", "+",
                                    "-",  "*",  "/",  "%",  "<<", ">>", "&", "|",  "^"};
  return kNames[static_cast<int>(op)];
}

std::string showLiteral(const ast::StructLiteralArgument& literal);

std::string showValue(const ast::StructLiteralValue& value) {
  if (ast::isStructLiteral(value)) return showLiteral(ast::structLiteralOf(value));
  return statement_shape::show(ast::expressionOf(value));
}

std::string showLiteral(const ast::StructLiteralArgument& literal) {
  const auto field = [&literal](const ast::StructLiteralField& f) {
    return concat({literal.nameOf(f), ": ", showValue(f.value)});
  };
  return concat({literal.type_name, "{", joined(literal.fields, field), "}"});
}

std::string showBody(const ast::StatementList& body) { return concat({"{", statement_shape::show(body), "}"}); }

std::string showFunction(const ast::MetaFunctionStatement& function, std::string_view keyword) {
  const auto parameter = [&function](const ast::MetaFunctionParam& param) {
    const bool rest = function.variadic && &param == &function.params.back();
    return concat({param.is_mutable ? "let " : "", rest ? "..." : "", param.name, param.type_name ? ": " : "",
                   param.type_name.value_or("")});
  };
  std::string out = concat({keyword, " ", function.name, "(", joined(function.params, parameter), ")"});
  if (function.return_type) out += " -> " + *function.return_type;
  return out + " " + showBody(function.body);
}

struct StatementPrinter {
  std::string operator()(const ast::LabelStatement& s) const { return "label:" + s.name; }
  std::string operator()(const ast::IsaTextStatement& s) const { return "isa:" + s.text; }
  std::string operator()(const ast::ValueDeclarationStatement& s) const {
    std::string out = (s.is_mutable ? "let " : "const ") + s.name;
    if (s.type_name) out += ":" + *s.type_name;
    return out + " = " + showValue(s.initializer);
  }
  std::string operator()(const ast::AssignmentStatement& s) const { return s.target + " = " + showValue(s.value); }
  std::string operator()(const ast::StructDeclarationStatement& s) const {
    const auto field = [](const ast::StructDeclarationField& f) {
      return concat({f.name, ": ", f.type_name, f.default_value ? " = " : "", f.default_value.value_or("")});
    };
    return concat(
        {s.packed ? "packed " : "", s.is_union ? "union " : "struct ", s.name, " {", joined(s.fields, field), "}"});
  }
  std::string operator()(const ast::ApiCallStatement& s) const {
    const auto argument = [](const ast::ApiCallArgument& a) {
      if (const auto text = a.string()) return concat({"\"", *text, "\""});
      if (const auto* node = a.expression()) return statement_shape::show(*node);
      const auto literal = frontend::parser::parseStructLiteralArgument(*a.structLiteralText());
      return literal ? showLiteral(*literal) : std::string("!literal");
    };
    return concat({"call ", s.name, "(", joined(s.arguments, argument), ")"});
  }
  std::string operator()(const ast::MetaIfStatement& s) const {
    std::string out = "if " + s.condition + " " + showBody(s.then_statements);
    if (!s.else_statements.empty()) out += " else " + showBody(s.else_statements);
    return out;
  }
  std::string operator()(const ast::MetaWhileStatement& s) const {
    return "while " + s.condition + " " + showBody(s.body);
  }
  std::string operator()(const ast::MetaForRangeStatement& s) const {
    const std::string source = s.source.single() ? statement_shape::show(s.source.first)
                                                 : "range(" + statement_shape::show(s.source.first) + ", " +
                                                       statement_shape::show(*s.source.second) + ")";
    return "for " + s.variable + " in " + source + " " + showBody(s.body);
  }
  std::string operator()(const ast::BreakStatement&) const { return "break"; }
  std::string operator()(const ast::ContinueStatement&) const { return "continue"; }
  std::string operator()(const ast::MacroStatement& s) const { return showFunction(s, "macro"); }
  std::string operator()(const ast::MetaFunctionStatement& s) const { return showFunction(s, "fn"); }
  std::string operator()(const ast::ReturnStatement& s) const { return "return " + statement_shape::show(s.value); }
  std::string operator()(const ast::BlockStatement& s) const { return showBody(s.body); }
  std::string operator()(const ast::DeferStatement& s) const { return "defer " + showBody(s.body); }
  std::string operator()(const ast::LateLayoutStatement& s) const { return "late_layout " + showBody(s.body); }
};

// Line ends as the lexer takes them: LF, CR, and CR LF as one.
std::uint32_t lineOf(std::string_view source, std::uint32_t offset) {
  std::uint32_t line = 1;
  for (std::size_t index = 0; index < std::min<std::size_t>(offset, source.size()); ++index) {
    const bool crlf = source[index] == '\r' && index + 1 < source.size() && source[index + 1] == '\n';
    if ((source[index] == '\n' || source[index] == '\r') && !crlf) ++line;
  }
  return line;
}

}  // namespace

std::string show(const expr::Node& node) {
  switch (node.kind()) {
    case expr::NodeKind::integer:
      return std::to_string(node.integer());
    case expr::NodeKind::float64: {
      char buffer[32];
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, node.number(), std::chars_format::scientific).ptr;
      return std::string(buffer, end);
    }
    case expr::NodeKind::boolean:
      return node.boolean() ? "true" : "false";
    case expr::NodeKind::string:
      return concat({"'", node.text(), "'"});
    case expr::NodeKind::bytes:
      return concat({"b'", node.text(), "'"});
    case expr::NodeKind::identifier:
      return std::string(node.text());
    case expr::NodeKind::field_access:
      return concat({show(node.left()), ".", node.text()});
    case expr::NodeKind::builtin_call: {
      const auto argument = [](const expr::BuiltinArgument& a) {
        if (a.kind() == expr::BuiltinArgument::Kind::bare_name) return concat({"#", a.text()});
        if (a.kind() == expr::BuiltinArgument::Kind::raw_text) return concat({"[", a.text(), "]"});
        return show(a.node());
      };
      return concat({node.text(), "(", joined(node.arguments(), argument), ")"});
    }
    case expr::NodeKind::unary: {
      constexpr const char* kNames[] = {"+", "-", "~", "!"};
      return kNames[static_cast<int>(node.unaryOperator())] + show(node.left());
    }
    case expr::NodeKind::binary:
      return concat({"(", show(node.left()), " ", spelling(node.binaryOperator()), " ", show(node.right()), ")"});
  }
  return "?";
}

std::string show(const ast::Statement& statement) { return std::visit(StatementPrinter{}, statement.payload); }

std::string show(const ast::StatementList& statements) {
  return joined(
      statements, [](const ast::Statement& s) { return show(s); }, "; ");
}

std::string describe(std::string_view source) {
  frontend::parser::Parser parser(source, 0u);
  const auto statements = parser.parseSource();
  if (statements) return show(*statements);
  const auto& location = parser.errorLocation();
  const std::uint32_t line = location ? lineOf(source, location->span.start) : 0;
  return concat({"!", qovrin::errorName(statements.error()), "@", std::to_string(line)});
}

std::string describeCall(std::string_view line) {
  std::string broken(line);
  broken.insert(broken.find('(') + 1, "\n");
  return describe(broken);
}

}  // namespace statement_shape
