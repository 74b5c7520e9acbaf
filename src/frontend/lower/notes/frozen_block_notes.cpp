#include "frontend/lower/notes/frozen_block_notes.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "common/display_text.hpp"
#include "frontend/syntax/expr.hpp"

namespace frontend::lower::frozen_block_notes {

namespace {

struct Search {
  context::LowerContext& context;
  bool in_defer;
  std::vector<std::string_view> declared{};

  std::string_view block() const { return in_defer ? "'defer'" : "'late_layout'"; }

  std::string literalNote() const {
    std::string note =
        "a struct literal cannot be frozen into a " + std::string(block()) + " block that stands in a scope";
    if (in_defer) return note + "; bind it with 'let' before the block and use that name here";
    return note + "; a block at top level can take one";
  }

  // A local the freezing refuses: one without a value, or, for late_layout,
  // one of a kind that has no literal form.
  std::optional<std::string> localNote(std::string_view name) const {
    if (std::ranges::find(declared, name) != declared.end()) return std::nullopt;
    const value::Value* local = context::lookupLocalValue(context, name);
    if (local == nullptr) return std::nullopt;
    const value::ValueKind kind = local->kind();
    if (kind == value::ValueKind::void_) return qovrin::quotedSubject(name) + " holds no value";
    if (in_defer || kind == value::ValueKind::integer || kind == value::ValueKind::float32 ||
        kind == value::ValueKind::float64 || kind == value::ValueKind::boolean || kind == value::ValueKind::string ||
        kind == value::ValueKind::bytes)
      return std::nullopt;
    return qovrin::quotedSubject(name) + " is " + value::kindWithArticle(kind) +
           ", which a 'late_layout' block that stands in a scope cannot take: only integers, floats, booleans, "
           "strings and bytes go with it";
  }

  std::optional<std::string> treeNote(const expr::Node& node) const {
    switch (node.kind()) {
      case expr::NodeKind::identifier:
        return localNote(node.text());
      case expr::NodeKind::binary: {
        const expr::LeftChain chain(node);
        auto note = treeNote(chain.first());
        for (std::size_t index = 0; index < chain.size() && !note; ++index) note = treeNote(chain.link(index).right());
        return note;
      }
      case expr::NodeKind::unary:
      case expr::NodeKind::field_access:
        return treeNote(node.left());
      case expr::NodeKind::builtin_call:
        for (const expr::BuiltinArgument& argument : node.arguments()) {
          std::optional<std::string> note;
          if (argument.kind() == expr::BuiltinArgument::Kind::expression) note = treeNote(argument.node());
          if (argument.kind() == expr::BuiltinArgument::Kind::bare_name) note = localNote(argument.text());
          if (note) return note;
        }
        return std::nullopt;
      default:
        return std::nullopt;
    }
  }

  std::optional<std::string> valueNote(const ast::StructLiteralValue& value) const {
    if (ast::isStructLiteral(value)) return literalNote();
    return treeNote(ast::expressionOf(value));
  }

  // A late_layout block decides its conditions while it is frozen.
  std::optional<std::string> conditionNote(std::string_view text) const {
    if (!in_defer) return std::nullopt;
    const auto tree = expr::parseOwned(text);
    return tree ? treeNote(*tree) : std::nullopt;
  }

  std::optional<diagnostic::Note> inSlice(std::span<const ast::Statement> statements) {
    const std::size_t outer = declared.size();
    std::optional<diagnostic::Note> found;
    for (const ast::Statement& statement : statements)
      if ((found = inStatement(statement))) break;
    declared.resize(outer);
    return found;
  }

  std::optional<diagnostic::Note> inStatement(const ast::Statement& statement) {
    const auto at = [&](std::optional<std::string> note) -> std::optional<diagnostic::Note> {
      if (!note) return std::nullopt;
      return diagnostic::Note{std::move(*note), statement.location()};
    };
    const auto& payload = statement.payload;
    if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&payload)) {
      auto note = at(valueNote(declaration->initializer));
      declared.push_back(declaration->name);
      return note;
    }
    if (const auto* assignment = std::get_if<ast::AssignmentStatement>(&payload))
      return at(valueNote(assignment->value));
    if (const auto* call = std::get_if<ast::ApiCallStatement>(&payload)) {
      for (const ast::ApiCallArgument& argument : call->arguments) {
        if (argument.structLiteralText()) return at(literalNote());
        if (const expr::Node* node = argument.expression())
          if (auto note = at(treeNote(*node))) return note;
      }
      return std::nullopt;
    }
    if (const auto* branch = std::get_if<ast::MetaIfStatement>(&payload)) {
      if (auto note = at(conditionNote(branch->condition))) return note;
      if (auto note = inSlice(branch->then_statements)) return note;
      return inSlice(branch->else_statements);
    }
    if (const auto* loop = std::get_if<ast::MetaWhileStatement>(&payload)) {
      if (auto note = at(conditionNote(loop->condition))) return note;
      return inSlice(loop->body);
    }
    return std::nullopt;
  }
};

}  // namespace

std::optional<diagnostic::Note> frozenValueNote(context::LowerContext& context, std::span<const ast::Statement> body,
                                                bool in_defer) {
  Search search{context, in_defer};
  return search.inSlice(body);
}

}  // namespace frontend::lower::frozen_block_notes
