#include "frontend/lower/binding_reach.hpp"

#include <algorithm>

#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"
#include "frontend/syntax/identifier.hpp"

namespace frontend::lower::binding_reach {

namespace {

class Search {
 public:
  Search(const context::LowerContext& context, const NameVisit& visit) noexcept : context_(context), visit_(visit) {}

  bool statements(const ast::StatementList& list) const {
    return std::ranges::any_of(list, [this](const ast::Statement& statement) { return this->statement(statement); });
  }

 private:
  bool named(std::string_view word) const { return visit_(word); }

  // A statement function, a macro, or a call that lowers another source.
  bool namesCode(std::string_view word) const {
    return context_.functions.find(word).has_value() || context_.macros.contains(word) || word == "include" ||
           word == "import";
  }

  // A call of a value function, of a captured operand, or of a load that
  // encodes the instructions before it.
  static bool runsCode(std::string_view call) noexcept {
    if (!expr::isBuiltinName(call) || call == "operand.eval") return true;
    const auto builtin = expr::findEvaluatorBuiltin(call);
    return builtin && builtin->kind == expr::EvaluatorBuiltinKind::output_load;
  }

  bool text(std::string_view text) const {
    bool reaches = false;
    identifier::forEachNameIn(text, [&](std::string_view word, bool called) {
      reaches = reaches || named(word) || namesCode(word) || (called && runsCode(word));
    });
    return reaches;
  }

  bool argument(const expr::BuiltinArgument& argument) const {
    switch (argument.kind()) {
      case expr::BuiltinArgument::Kind::bare_name:
        return named(argument.text());
      case expr::BuiltinArgument::Kind::raw_text:
        return text(argument.text());
      case expr::BuiltinArgument::Kind::expression:
        break;
    }
    return node(argument.node());
  }

  bool node(const expr::Node& node) const {
    switch (node.kind()) {
      case expr::NodeKind::identifier:
        return named(node.text());
      case expr::NodeKind::field_access:
      case expr::NodeKind::unary:
        return this->node(node.left());
      case expr::NodeKind::binary: {
        const expr::Node* left = &node;
        for (; left->kind() == expr::NodeKind::binary; left = &left->left())
          if (this->node(left->right())) return true;
        return this->node(*left);
      }
      case expr::NodeKind::builtin_call:
        if (runsCode(node.text())) return true;
        return std::ranges::any_of(node.arguments(),
                                   [this](const expr::BuiltinArgument& argument) { return this->argument(argument); });
      default:
        return false;
    }
  }

  bool value(const ast::StructLiteralValue& value) const {
    if (!ast::isStructLiteral(value)) return node(ast::expressionOf(value));
    return std::ranges::any_of(ast::structLiteralOf(value).fields,
                               [this](const ast::StructLiteralField& field) { return this->value(field.value); });
  }

  bool call(const ast::ApiCallStatement& call) const {
    if (namesCode(call.name)) return true;
    return std::ranges::any_of(call.arguments, [this](const ast::ApiCallArgument& argument) {
      if (const expr::Node* expression = argument.expression()) return node(*expression);
      if (const auto literal = argument.structLiteralText()) return text(*literal);
      return false;
    });
  }

  bool statement(const ast::Statement& statement) const {
    return std::visit(
        [this](const auto& record) -> bool {
          using Record = std::decay_t<decltype(record)>;
          if constexpr (std::is_same_v<Record, ast::IsaTextStatement>) {
            return text(record.text);
          } else if constexpr (std::is_same_v<Record, ast::ValueDeclarationStatement>) {
            return named(record.name) || value(record.initializer);
          } else if constexpr (std::is_same_v<Record, ast::AssignmentStatement>) {
            return named(record.target) || value(record.value);
          } else if constexpr (std::is_same_v<Record, ast::ApiCallStatement>) {
            return call(record);
          } else if constexpr (std::is_same_v<Record, ast::MetaIfStatement>) {
            return text(record.condition) || statements(record.then_statements) ||
                   statements(record.else_statements);
          } else if constexpr (std::is_same_v<Record, ast::MetaWhileStatement>) {
            return text(record.condition) || statements(record.body);
          } else if constexpr (std::is_same_v<Record, ast::MetaForRangeStatement>) {
            return named(record.variable) || node(record.source.first) ||
                   (record.source.second && node(*record.source.second)) || statements(record.body);
          } else if constexpr (std::is_same_v<Record, ast::ReturnStatement>) {
            return node(record.value);
          } else if constexpr (std::is_same_v<Record, ast::BlockStatement> || std::is_same_v<Record, ast::DeferStatement> ||
                               std::is_same_v<Record, ast::LateLayoutStatement>) {
            return statements(record.body);
          } else if constexpr (std::is_same_v<Record, ast::LabelStatement> ||
                               std::is_same_v<Record, ast::BreakStatement> ||
                               std::is_same_v<Record, ast::ContinueStatement>) {
            return false;
          } else {
            // Declarations of types, functions and macros, refused or rare
            // in a body: taken as reaching, which costs only the copy.
            return true;
          }
        },
        statement.payload);
  }

  const context::LowerContext& context_;
  const NameVisit& visit_;
};

}  // namespace

bool forEachName(const context::LowerContext& context, const ast::StatementList& body, const NameVisit& visit) {
  return Search(context, visit).statements(body);
}

bool bodyMayReach(const context::LowerContext& context, const ast::StatementList& body, std::string_view name) {
  return forEachName(context, body, [name](std::string_view word) { return !name.empty() && word == name; });
}

bool FunctionReach::mayReach(const context::LowerContext& context, const meta_function::Store& functions,
                             std::string_view function, std::string_view binding) {
  const std::size_t definitions = functions.size() + context.functions.size() + context.macros.size();
  if (known_ && definitions == definitions_ && function == function_ && binding == binding_) return reaches_;
  const auto found = functions.find(function);
  reaches_ = !found || bodyMayReach(context, functions.at(*found).body, binding);
  function_ = function;
  binding_ = binding;
  definitions_ = definitions;
  known_ = true;
  return reaches_;
}

}  // namespace frontend::lower::binding_reach
