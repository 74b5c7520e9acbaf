#include "frontend/lower/notes/name_notes.hpp"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "frontend/lower/expression_names.hpp"
#include "frontend/lower/macro.hpp"
#include "frontend/lower/reading.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"
#include "frontend/syntax/identifier.hpp"

namespace frontend::lower::name_notes {

using diagnostic::Note;
using expr::Node;
using expr::NodeKind;
using qovrin::Error;
using failure_asking::Asking;
using failure_asking::kBlanks;
using failure_asking::oneNote;
using failure_asking::quoted;
using failure_asking::innermostFailing;
using failure_asking::lineBelow;

namespace {


// A line "name:" further down the same source: a label the statement could
// not see yet.
std::optional<SourceLocation> laterLabel(const module::Module& module, const SourceLocation& from,
                                         std::string_view name) {
  return lineBelow(module, from, [name](std::string_view content) {
    return content.size() == name.size() + 1 && content.starts_with(name) && content.back() == ':';
  });
}

// A macro operand that stands for a name nothing defines, read through the
// parameter that holds it.
std::optional<std::string> undefinedOperand(const Asking& asking, const qovrin::Result<value::Value>& value,
                                            std::string_view parameter) {
  if (!value || value->asOperand() == nullptr) return std::nullopt;
  const std::string text = value->asOperand()->text();
  const std::string_view operand = qovrin::trim(text, kBlanks);
  std::string name(operand);
  const auto undefined = [&](std::string_view read) {
    return asking.module.findSymbol(read) == nullptr && context::lookupLocalValue(asking.context, read) == nullptr;
  };
  // An operand that is an expression names the first name in it nothing defines.
  if (!identifier::isName(name))
    if (const auto tree = expr::parseOwned(name))
      if (const Node* read = expression_names::firstNode(
              *tree, [&](const Node& node) { return node.kind() == NodeKind::identifier && undefined(node.text()); }))
        name = read->text();
  if (!identifier::isName(name) || !undefined(name)) return std::nullopt;
  const std::string given = name == operand ? "the macro operand" : "in the macro operand " + quoted(operand);
  return quoted(name) + " is not defined (" + given + " given for " + quoted(parameter) + ")";
}

// A function without a return type runs as statements and gives no value, so
// an expression cannot call it; the header shown keeps its own parameters.
std::string statementFunctionAsValue(const ast::MetaFunctionStatement& function) {
  std::string header = "fn " + function.name + "(";
  for (const ast::MetaFunctionParam& param : function.params) {
    if (&param != &function.params.front()) header += ", ";
    if (param.is_mutable) header += "let ";
    header += param.name;
    if (param.type_name) header += ": " + *param.type_name;
  }
  header += ") -> u64 {";
  return quoted(function.name) + " is a statement function, which gives no value; a function used in an " +
         "expression is declared with a return type and ends in 'return': " + quoted(header) + " ... 'return ...' " +
         "... '}'";
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

}  // namespace

std::vector<Note> operandNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  for (const Node* node : nodes) {
    std::optional<std::string> note;
    if (node->kind() == NodeKind::identifier) note = undefinedOperand(asking, asking.evaluate(*node), node->text());
    // A bare name ending a builtin's argument is read by the builtin itself.
    if (node->kind() == NodeKind::builtin_call)
      for (const expr::BuiltinArgument& argument : node->arguments())
        if (!note && argument.kind() == expr::BuiltinArgument::Kind::bare_name)
          note = undefinedOperand(asking, asking.evaluate(argument), argument.text());
    if (note) return oneNote(std::move(*note));
  }
  return {};
}


// With name_shown the message itself already names the undefined name.
std::vector<Note> undefinedNotes(const Asking& asking, const SourceLocation& location,
                                 const std::vector<const Node*>& nodes, bool name_shown) {
  const Node* failing = innermostFailing(asking, nodes, Error::UndefinedSymbol);
  if (failing == nullptr) return operandNotes(asking, nodes);
  if (failing->kind() == NodeKind::builtin_call) {
    // A known function whose body reads an undefined name fails the same way.
    const std::string_view name = failing->text();
    if (expr::isBuiltinName(name) || asking.module.metaFunctions().find(name)) return operandNotes(asking, nodes);
    if (const auto index = asking.context.functions.find(name))
      return oneNote(statementFunctionAsValue(asking.context.functions.at(*index)));
    return {{"there is no builtin or function named " + quoted(name), std::nullopt}};
  }
  if (failing->kind() != NodeKind::identifier) return {};
  const std::string_view name = failing->text();
  std::vector<Note> notes;
  if (!name_shown) notes.push_back({quoted(name) + " is not defined", std::nullopt});
  if (const auto label = laterLabel(asking.module, location, name))
    notes.push_back({quoted(name) + " is a label defined further down; data and meta expressions cannot read "
                                    "labels defined later, but a 'defer' block can",
                     *label});
  return notes;
}

std::vector<Note> duplicateNotes(const Asking& asking, const ast::Statement& statement) {
  const auto name = definedName(asking, statement);
  if (!name) return {};
  std::vector<Note> notes{{quoted(*name) + " is already defined", std::nullopt}};
  const symbol::Symbol* first = asking.module.findSymbol(*name);
  if (first == nullptr) return notes;
  // Only the project file's defines are bound before any source is read.
  if (!first->location().span.source) return oneNote(notes.front().message + " by the [defines] table of qovrin.toml");
  notes.push_back({"first definition of " + quoted(*name), first->location()});
  // The same file read twice defines all its names twice.
  const auto& sources = asking.module.sources();
  const auto here = statement.location().span.source;
  const auto there = *first->location().span.source;
  if (here && *here != there && *here < sources.size() && there < sources.size() &&
      sources[*here].path == sources[there].path && !asking.context.include_calls.empty())
    notes.push_back({quoted(sources[*here].path) + " is included a second time here; import reads a file only once",
                     asking.context.include_calls.back()});
  return notes;
}

std::vector<Note> duplicateMacroNotes(const Asking& asking, const ast::MacroStatement& macro) {
  const std::size_t operands = macro.variadic ? std::numeric_limits<std::size_t>::max() : macro.params.size();
  const macro::MacroEntry* first = asking.context.macros.select(macro.name, operands);
  if (first == nullptr) return {};
  const std::string shape = macro.variadic ? "with a variable operand count"
                                           : "with " + std::to_string(macro.params.size()) +
                                                 (macro.params.size() == 1 ? " operand" : " operands");
  return {{"a macro " + quoted(macro.name) + " " + shape + " is already defined", std::nullopt},
          {"first definition of " + quoted(macro.name), first->statement.location}};
}

}  // namespace frontend::lower::name_notes
