#include "frontend/lower/binding_reach.hpp"

#include <algorithm>
#include <unordered_set>

#include "frontend/lower/context.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"
#include "frontend/syntax/identifier.hpp"

namespace frontend::lower::binding_reach {

namespace {

// One walk of a function's body and of every function it calls, each once,
// which stops at recursion and as soon as anything is reachable: every
// method returns true then. The names are views into the stored bodies,
// which stay put while the walk runs.
class Search {
 public:
  Search(const context::LowerContext& context, const meta_function::Store& values, std::uint64_t& bodies_walked)
      : context_(context), values_(values), bodies_walked_(bodies_walked) {}

  // The functions of that name: any that exists is walked, once per search.
  bool follow(std::string_view function) {
    if (!followed_.insert(function).second) return false;
    const auto value = values_.find(function);
    const auto statement = context_.functions.find(function);
    if (!value && !statement) return reachesAnything();
    if (value && body(values_.at(*value).body)) return true;
    return statement && body(context_.functions.at(*statement).body);
  }

  Reach result() && {
    Reach reach;
    reach.anything = anything_;
    if (anything_) return reach;
    std::ranges::sort(names_);
    names_.erase(std::ranges::unique(names_).begin(), names_.end());
    reach.names.assign(names_.begin(), names_.end());
    return reach;
  }

 private:
  bool reachesAnything() {
    anything_ = true;
    return true;
  }

  bool named(std::string_view word) {
    names_.push_back(word);
    return false;
  }

  bool body(const ast::StatementList& list) {
    ++bodies_walked_;
    return statements(list);
  }

  bool statements(const ast::StatementList& list) {
    return std::ranges::any_of(list, [this](const ast::Statement& statement) { return this->statement(statement); });
  }

  // A call in an expression or in text: a builtin runs nothing written
  // elsewhere but a captured operand or the encoding before a load.
  bool called(std::string_view call) {
    if (!expr::isBuiltinName(call)) return follow(call);
    if (call == "operand.eval") return reachesAnything();
    const auto builtin = expr::findEvaluatorBuiltin(call);
    return builtin && builtin->kind == expr::EvaluatorBuiltinKind::output_load && reachesAnything();
  }

  // A word of a statement, a condition or an instruction line, which may
  // call a statement function or expand a macro.
  bool word(std::string_view word, bool call) {
    named(word);
    if (context_.macros.contains(word) || word == "include" || word == "import") return reachesAnything();
    if (call) return called(word);
    return context_.functions.find(word) && follow(word);
  }

  bool text(std::string_view text) {
    bool stop = false;
    identifier::forEachNameIn(text, [&](std::string_view name, bool call) { stop = stop || word(name, call); });
    return stop;
  }

  bool argument(const expr::BuiltinArgument& argument) {
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

  bool node(const expr::Node& node) {
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
        if (called(node.text())) return true;
        return std::ranges::any_of(node.arguments(),
                                   [this](const expr::BuiltinArgument& argument) { return this->argument(argument); });
      default:
        return false;
    }
  }

  bool value(const ast::StructLiteralValue& value) {
    if (!ast::isStructLiteral(value)) return node(ast::expressionOf(value));
    return std::ranges::any_of(ast::structLiteralOf(value).fields,
                               [this](const ast::StructLiteralField& field) { return this->value(field.value); });
  }

  // A statement call runs a statement function (or a value function of the
  // name), expands a macro, lowers another source, or is the assembler's.
  bool call(const ast::ApiCallStatement& call) {
    if (context_.macros.contains(call.name) || call.name == "include" || call.name == "import")
      return reachesAnything();
    if ((context_.functions.find(call.name) || values_.find(call.name)) && follow(call.name)) return true;
    return std::ranges::any_of(call.arguments, [this](const ast::ApiCallArgument& argument) {
      if (const expr::Node* expression = argument.expression()) return node(*expression);
      if (const auto literal = argument.structLiteralText()) return text(*literal);
      return false;
    });
  }

  bool statement(const ast::Statement& statement) {
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
            return reachesAnything();
          }
        },
        statement.payload);
  }

  const context::LowerContext& context_;
  const meta_function::Store& values_;
  std::uint64_t& bodies_walked_;
  std::unordered_set<std::string_view> followed_;
  std::vector<std::string_view> names_;
  bool anything_ = false;
};

}  // namespace

namespace {

// The memo, emptied first when a definition came since it was filled.
Memo& currentMemo(context::LowerContext& context, const meta_function::Store& values) {
  Memo& memo = context.reach;
  const std::size_t definitions = values.size() + context.functions.size() + context.macros.size();
  if (memo.definitions != definitions) {
    memo.functions.clear();
    memo.last.reset();
    memo.definitions = definitions;
  }
  return memo;
}

}  // namespace

const Reach& functionReach(context::LowerContext& context, const meta_function::Store& values,
                           std::string_view function) {
  Memo& memo = currentMemo(context, values);
  if (const auto known = memo.functions.find(function); known != memo.functions.end()) return known->second;
  Search search(context, values, memo.bodies_walked);
  search.follow(function);
  return memo.functions.emplace(std::string(function), std::move(search).result()).first->second;
}

bool mayName(const Reach& reach, std::string_view name) noexcept {
  return reach.anything || (!name.empty() && std::ranges::binary_search(reach.names, name, std::less<>()));
}

bool valueFunctionMayReach(context::LowerContext& context, const meta_function::Store& values,
                           std::string_view function, std::string_view binding) {
  Memo& memo = currentMemo(context, values);
  if (memo.last && memo.last->function == function && memo.last->binding == binding) return memo.last->reaches;
  const bool reaches = !values.find(function) || mayName(functionReach(context, values, function), binding);
  Memo::Asked& last = memo.last ? *memo.last : memo.last.emplace();
  last.function.assign(function);
  last.binding.assign(binding);
  last.reaches = reaches;
  return reaches;
}

}  // namespace frontend::lower::binding_reach
