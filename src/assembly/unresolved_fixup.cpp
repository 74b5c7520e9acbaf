#include "assembly/unresolved_fixup.hpp"

#include <optional>

#include "assembly/failing_part.hpp"
#include "assembly/fixup_resolution.hpp"
#include "common/display_text.hpp"
#include "frontend/encode/backend_adapter.hpp"
#include "frontend/lower/dot_name_notes.hpp"
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
  return text;
}

std::string symbolProblem(const frontend::module::Module& module, const frontend::fixup::Fixup& fixup,
                          std::string_view name) {
  const frontend::symbol::Symbol* symbol = module.findSymbol(name);
  if (symbol == nullptr) return notDefined(module, fixup, name);
  if (symbol->label() != nullptr) return quoted(name) + " has no address";
  return quoted(name) + " is " + withArticle(symbol->value()->value.kind()) + ", not an integer";
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
