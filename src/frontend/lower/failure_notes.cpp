#include "frontend/lower/failure_notes.hpp"

#include <algorithm>
#include <deque>
#include <optional>
#include <string>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "common/little_endian.hpp"
#include "frontend/lower/arguments.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/values/expr_builtin_names.hpp"
#include "frontend/values/expr_eval.hpp"

namespace frontend::lower::failure_notes {

using diagnostic::Note;
using expr::Node;
using expr::NodeKind;
using qovrin::Error;

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string quoted(std::string_view text) { return qovrin::quotedSubject(text); }

// Everything one question about the failed statement needs.
struct Asking {
  module::Module& module;
  context::LowerContext& context;
  const contracts::ActiveOutput& cursor;

  // Evaluated as lowering would, but with the evaluator's own error codes,
  // which tell an argument count from an argument kind.
  qovrin::Result<value::Value> evaluate(const Node& node) const {
    return expr::evaluateValue(node, expression_bridge::evaluationContextAt(module, context, cursor, context.hooks));
  }
};

// The statement's expression trees, in source order; conditions written as
// text are parsed into `parsed`, which keeps them alive.
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

// Every node of the trees with its parts before it, so that the first
// failing node met is the innermost one.
void innermostFirst(const Node& node, std::vector<const Node*>& out) {
  switch (node.kind()) {
    case NodeKind::binary:
      innermostFirst(node.left(), out);
      innermostFirst(node.right(), out);
      break;
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

std::vector<const Node*> allNodes(const std::vector<const Node*>& roots) {
  std::vector<const Node*> nodes;
  for (const Node* root : roots) innermostFirst(*root, nodes);
  return nodes;
}

// The first node that fails with `error` while its own parts evaluate.
const Node* innermostFailing(const Asking& asking, const std::vector<const Node*>& nodes, Error error,
                             qovrin::Error* raw = nullptr) {
  for (const Node* node : nodes) {
    if (node->kind() != NodeKind::identifier && node->kind() != NodeKind::builtin_call &&
        node->kind() != NodeKind::binary && node->kind() != NodeKind::unary)
      continue;
    if (expr::usesOutputLoad(*node)) continue;
    const auto value = asking.evaluate(*node);
    if (value) continue;
    if (expression_bridge::mapExpressionError(value.error()) != error) return nullptr;
    if (raw != nullptr) *raw = value.error();
    return node;
  }
  return nullptr;
}

// A line "name:" further down the same source: a label the statement could
// not see yet.
std::optional<SourceLocation> laterLabel(const module::Module& module, const SourceLocation& from,
                                         std::string_view name) {
  if (!from.span.source || *from.span.source >= module.sources().size()) return std::nullopt;
  const std::string_view text = module.sources()[*from.span.source].text;
  std::size_t line = text.find('\n', std::min<std::size_t>(from.span.start, text.size()));
  while (line != std::string_view::npos) {
    const std::size_t start = line + 1;
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view content = qovrin::trim(text.substr(start, end - start), kBlanks);
    if (content.size() == name.size() + 1 && content.starts_with(name) && content.back() == ':') {
      const std::size_t column = text.find_first_not_of(kBlanks, start);
      return SourceLocation{
          SourceSpan{from.span.source, static_cast<std::uint32_t>(column), static_cast<std::uint32_t>(end)},
          std::nullopt};
    }
    line = end < text.size() ? end : std::string_view::npos;
  }
  return std::nullopt;
}

std::vector<Note> undefinedNotes(const Asking& asking, const ast::Statement& statement,
                                 const std::vector<const Node*>& nodes) {
  const Node* failing = innermostFailing(asking, nodes, Error::UndefinedSymbol);
  if (failing == nullptr) return {};
  if (failing->kind() == NodeKind::builtin_call) {
    // A known function whose body reads an undefined name fails the same way.
    const std::string_view name = failing->text();
    if (expr::isBuiltinName(name) || asking.module.metaFunctions().find(name)) return {};
    return {{"there is no builtin or function named " + quoted(name), std::nullopt}};
  }
  if (failing->kind() != NodeKind::identifier) return {};
  const std::string_view name = failing->text();
  std::vector<Note> notes{{quoted(name) + " is not defined", std::nullopt}};
  if (const auto label = laterLabel(asking.module, statement.location(), name))
    notes.push_back({quoted(name) + " is a label defined further down; data and meta expressions cannot read "
                                    "labels defined later, but a 'defer' block can",
                     *label});
  return notes;
}

// The name a statement defines: a label line, label.define("name"), let or const.
std::optional<std::string> definedName(const Asking& asking, const ast::Statement& statement) {
  if (const auto* label = std::get_if<ast::LabelStatement>(&statement.payload)) return label->name;
  if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload))
    return declaration->name;
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  if (call == nullptr || call->name != "label.define" || call->arguments.empty()) return std::nullopt;
  auto name = root::sourcePathArgAtContext(asking.module, asking.context, asking.cursor, *call, 0);
  if (!name) return std::nullopt;
  return std::move(*name);
}

std::vector<Note> duplicateNotes(const Asking& asking, const ast::Statement& statement) {
  const auto name = definedName(asking, statement);
  if (!name) return {};
  std::vector<Note> notes{{quoted(*name) + " is already defined", std::nullopt}};
  const symbol::Symbol* first = asking.module.findSymbol(*name);
  if (first != nullptr && first->location().span.source)
    notes.push_back({"first definition of " + quoted(*name), first->location()});
  return notes;
}

std::vector<Note> fileNotes(const Asking& asking, const ast::Statement& statement) {
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  if (call == nullptr || call->arguments.empty()) return {};
  if (call->name != "include" && call->name != "import" && call->name != "emit.file") return {};
  const auto name = root::sourcePathArgAtContext(asking.module, asking.context, asking.cursor, *call, 0);
  if (!name) return {};
  if (!asking.context.paths.files_available)
    return {{quoted(*name) + " cannot be read: file access is not available here", std::nullopt}};
  std::vector<std::string> folders;
  if (asking.context.paths.include_folders) {
    contracts::IncludeRequest request;
    request.name = *name;
    if (!asking.context.include_stack.empty()) request.base = asking.context.include_stack.back().path;
    folders = asking.context.paths.include_folders(request);
  }
  if (folders.empty()) return {{quoted(*name) + " cannot be read", std::nullopt}};
  std::string note = quoted(*name) + " was not found; searched ";
  for (std::size_t index = 0; index < folders.size(); ++index) {
    if (index > 0) note += ", ";
    note += folders[index];
  }
  return {{note, std::nullopt}};
}

// The calls whose values must fit their field: bytes per value, and the
// first argument that is a value (a store's first names the place).
struct IntegerCall {
  std::string_view name;
  unsigned width;
  std::size_t first_value;
};

constexpr IntegerCall kIntegerCalls[] = {
    {"emit.u8", 1, 0}, {"emit.u16", 2, 0}, {"emit.u32", 4, 0}, {"db", 1, 0},        {"dw", 2, 0},
    {"dd", 4, 0},      {"dp", 6, 0},       {"store.u8", 1, 1}, {"store.u16", 2, 1}, {"store.u32", 4, 1},
};

std::vector<Note> integerNotes(const Asking& asking, const ast::Statement& statement) {
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  if (call == nullptr) return {};
  const auto found =
      std::ranges::find_if(kIntegerCalls, [&](const IntegerCall& entry) { return entry.name == call->name; });
  if (found == std::end(kIntegerCalls)) return {};
  for (std::size_t index = found->first_value; index < call->arguments.size(); ++index) {
    const Node* node = call->arguments[index].expression();
    if (node == nullptr) continue;
    const auto value = asking.evaluate(*node);
    if (!value || value->asInteger() == nullptr) continue;
    const std::uint64_t word = value->asInteger()->word;
    if (qovrin::fitsIntegerWidth(word, found->width)) continue;
    // A negative value reads as the user wrote it, not as its 64-bit word.
    const std::string shown = static_cast<std::int64_t>(word) < 0
                                  ? std::to_string(static_cast<std::int64_t>(word))
                                  : std::to_string(word);
    return {{shown + " does not fit the " + std::to_string(8 * found->width) + "-bit field of " + call->name,
             std::nullopt}};
  }
  return {};
}

// Whether a library builtin refuses `count` arguments whatever they hold: the
// library checks the count before any argument's kind, so stand-ins of no
// kind fail on the count alone.
bool refusesCount(meta_std::MetaStdBuiltin builtin, std::size_t count) {
  const std::vector<value::Value> stand_ins(count);
  const auto result = meta_std::callBuiltin(builtin, std::span<const value::Value>(stand_ins));
  return !result && result.error() == Error::InvalidArgument;
}

std::vector<Note> builtinNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  Error raw = Error::InvalidExpression;
  const Node* failing = innermostFailing(asking, nodes, Error::InvalidExpression, &raw);
  if (failing == nullptr || failing->kind() != NodeKind::builtin_call) return {};
  const std::string name = quoted(failing->text());
  const std::size_t count = failing->arguments().size();
  if (const auto builtin = meta_std::lookupBuiltin(failing->text())) {
    if (raw == Error::InvalidArgument && refusesCount(*builtin, count))
      return {
          {name + " does not take " + std::to_string(count) + (count == 1 ? " argument" : " arguments"), std::nullopt}};
    if (raw == Error::TypeMismatch) return {{"an argument of " + name + " is not of the kind it takes", std::nullopt}};
  }
  return {{name + " failed with " + std::string(qovrin::errorName(raw)), std::nullopt}};
}

}  // namespace

std::vector<Note> statementNotes(module::Module& module, context::LowerContext& context,
                                 const contracts::ActiveOutput& cursor, const ast::Statement& statement, Error error) {
  const Asking asking{module, context, cursor};
  std::deque<Node> parsed;
  switch (error) {
    case Error::UndefinedSymbol:
      return undefinedNotes(asking, statement, allNodes(expressionsOf(statement, parsed)));
    case Error::DuplicateSymbol:
      return duplicateNotes(asking, statement);
    case Error::IncludeNotAvailable:
    case Error::FileNotAvailable:
      return fileNotes(asking, statement);
    case Error::InvalidApiInteger:
      return integerNotes(asking, statement);
    case Error::InvalidExpression:
      return builtinNotes(asking, allNodes(expressionsOf(statement, parsed)));
    default:
      return {};
  }
}

std::vector<Note> parseNotes(Error error) {
  static constexpr std::pair<Error, std::string_view> kBlocks[] = {
      {Error::UnexpectedEndOfMetaIf, "if"},       {Error::UnexpectedEndOfMetaWhile, "while"},
      {Error::UnexpectedEndOfMetaFor, "for"},     {Error::UnexpectedEndOfMetaFunction, "fn"},
      {Error::UnexpectedEndOfMetaDefer, "defer"}, {Error::UnexpectedEndOfLateLayout, "late_layout"},
      {Error::UnexpectedEndOfStruct, "struct"},   {Error::UnexpectedEndOfMetaBlock, "{"},
  };
  for (const auto& [code, block] : kBlocks)
    if (code == error)
      return {{"the '" + std::string(block) + "' block opened here has no closing '}' before the end of the file",
               std::nullopt}};
  return {};
}

}  // namespace frontend::lower::failure_notes
