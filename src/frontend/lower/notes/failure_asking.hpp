#pragma once
// What every failure note asks of a failed statement: the statement's
// expressions, the innermost of their parts that fails, the arguments of a
// failing call, and the line below where a later fix would stand.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/reading.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/source_location.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "common/ascii.hpp"
#include "common/display_text.hpp"

namespace frontend::lower::failure_asking {

constexpr std::string_view kBlanks = " \t\r\n";

inline std::string quoted(std::string_view text) { return qovrin::quotedSubject(text); }

inline std::vector<diagnostic::Note> oneNote(std::string text) { return {{std::move(text), std::nullopt}}; }

// The search evaluates parts of the statement again, value functions with
// them; what their print, warn and err calls record was said the first time.
class MutedDiagnostics {
 public:
  explicit MutedDiagnostics(module::Module& module)
      : store_(module.diagnostics()), count_(module.diagnostics().diagnostics().size()) {}
  ~MutedDiagnostics() { store_.truncate(count_); }
  MutedDiagnostics(const MutedDiagnostics&) = delete;
  MutedDiagnostics& operator=(const MutedDiagnostics&) = delete;

 private:
  diagnostic::DiagnosticStore& store_;
  std::size_t count_;
};

// Everything one question about the failed statement needs.
struct Asking {
  module::Module& module;
  context::LowerContext& context;
  const contracts::ActiveOutput& cursor;

  // Evaluated as lowering would, but with the evaluator's own error codes,
  // which tell an argument count from an argument kind.
  qovrin::Result<value::Value> evaluate(const expr::Node& node) const { return expr::evaluateValue(node, evaluation()); }
  qovrin::Result<value::Value> evaluate(const expr::BuiltinArgument& argument) const {
    return expr::evaluateBuiltinValueArg(argument, evaluation());
  }
  expr::EvaluationContext evaluation() const {
    return expression_bridge::evaluationContextAt(module, context, cursor, context.hooks);
  }
};

// The statement's expression trees, in source order; conditions written as
// text are parsed into `parsed`, which keeps them alive.
std::vector<const expr::Node*> expressionsOf(const ast::Statement& statement, std::deque<expr::Node>& parsed);

// Every node of the trees, each after its own parts.
std::vector<const expr::Node*> allNodes(const std::vector<const expr::Node*>& roots);

// The first node that fails with `error` while its own parts evaluate; `raw`
// receives the evaluator's own code for it.
const expr::Node* innermostFailing(const Asking& asking, const std::vector<const expr::Node*>& nodes,
                                   qovrin::Error error, qovrin::Error* raw = nullptr);

// The first line below `from` in its source whose trimmed text `matches`.
template <typename Matches>
std::optional<SourceLocation> lineBelow(const module::Module& module, const SourceLocation& from,
                                        const Matches& matches) {
  if (!from.span.source || *from.span.source >= module.sources().size()) return std::nullopt;
  const std::string_view text = module.sources()[*from.span.source].text;
  // Any line end: LF, CR LF (an empty line between) or a lone CR.
  std::size_t line = text.find_first_of("\r\n", std::min<std::size_t>(from.span.start, text.size()));
  while (line != std::string_view::npos) {
    const std::size_t start = line + 1;
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    if (matches(qovrin::trim(text.substr(start, end - start), kBlanks))) {
      const std::size_t column = text.find_first_not_of(kBlanks, start);
      return SourceLocation{
          SourceSpan{from.span.source, static_cast<std::uint32_t>(column), static_cast<std::uint32_t>(end)},
          std::nullopt};
    }
    line = end < text.size() ? end : std::string_view::npos;
  }
  return std::nullopt;
}

// The first call of one of the named builtins that fails when asked again.
const expr::Node* failingCall(const Asking& asking, const std::vector<const expr::Node*>& nodes,
                              std::initializer_list<std::string_view> names);

// A call's argument as the text or the integer it holds, when it holds one.
std::optional<std::string> stringArgument(const Asking& asking, const expr::Node& call, std::size_t index);
std::optional<std::uint64_t> integerArgument(const Asking& asking, const expr::Node& call, std::size_t index);

// "1 argument", "2 arguments".
std::string argumentCount(std::size_t count);

// "1 byte", "2 bytes".
std::string byteCount(std::uint64_t count);

// "0x1f", as notes show addresses.
std::string hexNumber(std::uint64_t value);

// An integer word as a note shows it: below zero as the negative number it
// was written as, unless the tree reads an address (a label or here()),
// which is shown unsigned.
std::string wordText(std::uint64_t word, const expr::Node& written, const module::Module& module);

// A value as a note shows it.
std::string valueText(const value::Value& value);

}  // namespace frontend::lower::failure_asking
