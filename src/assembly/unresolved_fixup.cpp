#include "assembly/unresolved_fixup.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "assembly/failing_part.hpp"
#include "assembly/fixup_resolution.hpp"
#include "common/display_text.hpp"
#include "frontend/encode/backend_adapter.hpp"
#include "frontend/lower/notes/dot_name_notes.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/expr_number.hpp"

namespace assembly {

using frontend::expr::Node;
using frontend::expr::NodeKind;
using qovrin::Error;

namespace {

std::string quoted(std::string_view text) { return qovrin::quotedSubject(text); }

// "a string", "an integer".
std::string withArticle(frontend::value::ValueKind kind) {
  const std::string_view name = frontend::value::kindName(kind);
  const bool vowel = !name.empty() && std::string_view("aeiou").find(name.front()) != std::string_view::npos;
  return std::string(vowel ? "an " : "a ") + std::string(name);
}

// A label sym.unique may have named after `name`: the name, "__" and digits.
std::optional<std::string_view> uniqueLabelOf(const frontend::module::Module& module, std::string_view name) {
  const frontend::symbol::SymbolStore& symbols = module.symbols();
  for (std::size_t index = 0; index < symbols.size(); ++index) {
    if (symbols[index].label() == nullptr) continue;
    const std::string_view label = module.symbolName(symbols[index]);
    if (!label.starts_with(name) || !label.substr(name.size()).starts_with("__")) continue;
    const std::string_view number = label.substr(name.size() + 2);
    if (!number.empty() && std::ranges::all_of(number, [](char c) { return c >= '0' && c <= '9'; })) return label;
  }
  return std::nullopt;
}

// The instruction's text around `name`, spelt as the isa() call that names
// a label held in a value: "isa(sym.join("jz ", done))".
std::string isaJoinedAround(const frontend::module::Module& module, const frontend::fixup::Fixup& fixup,
                            std::string_view name) {
  // The place is where the line starts; the line ends at its comment.
  const frontend::SourceSpan span = module.locationAt(fixup.fragment, fixup.offset).span;
  std::string_view text;
  if (span.source && *span.source < module.sources().size() && span.start <= module.sources()[*span.source].text.size())
    text = std::string_view(module.sources()[*span.source].text).substr(span.start);
  text = text.substr(0, std::min(text.find('\n'), text.find("//")));
  text = text.substr(0, text.find_last_not_of(" \t\r") + 1);
  const std::size_t at = text.find(name);
  if (at == std::string_view::npos) return "isa(sym.join(\"...\", " + std::string(name) + "))";
  std::string_view before = text.substr(0, at);
  before.remove_prefix(std::min(before.size(), before.find_first_not_of(" \t")));
  std::string joined = "isa(sym.join(\"" + std::string(before) + "\", " + std::string(name);
  const std::string_view after = text.substr(at + name.size());
  if (!after.empty()) joined += ", \"" + std::string(after) + "\"";
  return joined + "))";
}

// A RISC-V CSR operand the encoder did not know by name went to the fixups
// like a label; saying so points at the misspelt CSR instead of a missing label.
std::string notDefined(const frontend::module::Module& module, const frontend::fixup::Fixup& fixup,
                       std::string_view name) {
  std::string text = quoted(name) + " is not defined";
  const auto fragments = module.fragments();
  if (fixup.fragment >= fragments.size()) return text;
  const frontend::fragment::Instruction* line = fragments[fixup.fragment].instruction();
  if (line != nullptr && line->target.isa == frontend::target::Isa::riscv &&
      frontend::backend_adapter::riscvCsrOperand(line->text(), name))
    text += " (not a known CSR name)";
  else if (const auto label = uniqueLabelOf(module, name))
    text += ", but the label " + quoted(*label) + " is: when " + quoted(name) +
            " held a name made by sym.unique, an instruction names that label through its text: " +
            isaJoinedAround(module, fixup, name);
  return text;
}

std::string symbolProblem(const frontend::module::Module& module, const frontend::fixup::Fixup& fixup,
                          std::string_view name) {
  const frontend::symbol::Symbol* symbol = module.findSymbol(name);
  if (symbol == nullptr) return notDefined(module, fixup, name);
  if (symbol->label() != nullptr) return quoted(name) + " has no address";
  // A name made by sym.unique and defined by label.define: the value holds
  // the label's name, which instruction text does not look into.
  const std::string* held = symbol->value()->value.asString();
  if (held != nullptr && module.findSymbol(*held) != nullptr && module.findSymbol(*held)->label() != nullptr)
    return quoted(name) + " is a meta value that holds the label name " + quoted(*held) +
           ", and an instruction names such a label through its text: " + isaJoinedAround(module, fixup, name);
  return quoted(name) + " is " + withArticle(symbol->value()->value.kind()) + ", not an integer";
}

// The call's own text inside `text`, from its name to its closing ')'.
std::string_view callText(std::string_view text, std::string_view name) {
  std::size_t at = text.find(std::string(name) + "(");
  if (at == std::string_view::npos) return name;
  std::size_t depth = 0;
  for (std::size_t index = at + name.size(); index < text.size(); ++index) {
    if (text[index] == '(') ++depth;
    if (text[index] == ')' && --depth == 0) return text.substr(at, index + 1 - at);
  }
  return text.substr(at);
}

// What went wrong in the innermost part of the tree that fails while its own
// parts evaluate; none when the tree evaluates after all.
std::optional<std::string> innermostFailure(const frontend::module::Module& module, const frontend::fixup::Fixup& fixup,
                                            const Node& tree, const frontend::expr::EvaluationContext& context) {
  const Node& node = innermostFailingPart(tree, context);
  const auto value = frontend::expr::evaluateValue(node, context);
  if (value) return std::nullopt;
  const Error error = value.error();
  if (node.kind() == NodeKind::identifier && error == Error::UndefinedSymbol)
    return notDefined(module, fixup, node.text());
  if (node.kind() == NodeKind::builtin_call && module.metaFunctions().find(node.text()))
    return quoted(node.text()) + " is a function of the source, and instruction text substitutes values and " +
           "builtin calls only: bind the result to a name first ('const v = " +
           std::string(callText(module.fixups().target(fixup).text, node.text())) + "') and write that name";
  if (error == Error::DivisionByZero) return std::string("division by zero");
  if (node.kind() == NodeKind::binary && error == Error::TypeMismatch) {
    const auto left = frontend::expr::evaluateValue(node.left(), context);
    const auto right = frontend::expr::evaluateValue(node.right(), context);
    if (left && right) return "it combines " + withArticle(left->kind()) + " with " + withArticle(right->kind());
  }
  return std::string(qovrin::errorName(error));
}

}  // namespace

std::string describeUnresolvedFixup(const frontend::fixup::Fixup& fixup,
                                    const frontend::expr::EvaluationContext& context) {
  const frontend::module::Module& module = context.module;
  const frontend::fixup::FixupTarget target = module.fixups().target(fixup);
  const std::string_view text = target.text;
  if (target.kind == frontend::fixup::FixupKind::symbol) return symbolProblem(module, fixup, text);
  const std::string cannot = quoted(text) + " cannot be evaluated: ";
  if (const auto folded = splitFoldedAddend(text); folded && module.findSymbol(folded->name) == nullptr)
    return cannot + notDefined(module, fixup, folded->name);
  const auto tree = frontend::expr::parseOwned(text);
  if (!tree) {
    // A number that reads as none stops a name's addend as it stops an expression.
    if (auto note = frontend::expr::unreadableNumberNote(text)) return std::move(*note);
    if (const auto name = frontend::lower::dot_name_notes::dotNameStoppingExpression(text))
      return cannot + frontend::lower::dot_name_notes::dotNameReason(*name);
    return cannot + "it is not an expression";
  }
  const auto why = innermostFailure(module, fixup, *tree, context);
  if (!why) {
    const auto value = frontend::expr::evaluateValue(*tree, context);
    if (value && value->kind() != frontend::value::ValueKind::integer)
      return quoted(text) + " is " + withArticle(value->kind()) + ", not an integer";
    return quoted(text) + " could not be resolved";
  }
  return cannot + *why;
}

}  // namespace assembly
