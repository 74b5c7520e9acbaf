#pragma once
// Macros: the store of definitions, overloaded by operand count, and the
// expansion of an instruction line whose first word names one. An operand is
// not pasted as text: it is captured as pieces that remember where they were
// written (OperandEnvironment), so the names in it keep their meaning however
// deeply it is handed on.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/source_location.hpp"
#include "frontend/values/value.hpp"

namespace frontend::lower::context {
class LowerContext;
}

namespace frontend::macro {

// At most this many macro and meta-function calls are nested, and this many
// expansions happen in one lowering run.
inline constexpr std::uint32_t kMaxMetaCallDepth = 128;
inline constexpr std::uint64_t kMaxExpansions = 100000;
// Operands captured inside operands inside ... at most this deep.
inline constexpr std::uint64_t kMaxCaptureDepth = 128;

struct MacroEntry {
  ast::MetaFunctionStatement statement;  // a deep copy
  bool variadic = false;                 // the last parameter takes every remaining operand
};

class Store {
 public:
  // DuplicateMacro for a second variadic macro of one name, or a second fixed
  // one with the same parameter count; otherwise keeps a deep copy.
  qovrin::Status add(const ast::MetaFunctionStatement& statement);

  bool contains(std::string_view name) const noexcept { return by_name_.contains(name); }
  bool empty() const noexcept { return entries_.empty(); }
  std::size_t size() const noexcept { return entries_.size(); }
  std::string_view nameAt(std::size_t index) const noexcept { return entries_[index].statement.name; }
  std::vector<std::string_view> names() const {
    std::vector<std::string_view> names;
    for (const auto& [name, entries] : by_name_) names.push_back(name);
    return names;
  }

  // The fixed entry with exactly that many parameters, else the variadic one
  // when it can take that many operands; null when neither exists.
  const MacroEntry* select(std::string_view name, std::size_t operand_count) const noexcept;

  // The first definition of that name; null when there is none.
  const ast::MetaFunctionStatement* first(std::string_view name) const noexcept {
    const auto found = by_name_.find(name);
    return found == by_name_.end() || found->second.empty() ? nullptr : &entries_[found->second.front()].statement;
  }

 private:
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
  };

  std::deque<MacroEntry> entries_;  // stable while a body runs
  // Entries of each name in declaration order.
  std::unordered_map<std::string, std::vector<std::uint32_t>, NameHash, std::equal_to<>> by_name_;
};

// End of a line's first word: the first whitespace character or "(".
std::size_t firstWordEnd(std::string_view text) noexcept;

using EnvironmentRef = std::shared_ptr<const value::OperandEnvironment>;

// The text as pieces: runs written here get environment, a name of a local
// holding an operand is replaced by that operand's own pieces.
qovrin::Result<value::OperandValue> capture(lower::context::LowerContext& context, const EnvironmentRef& environment,
                                            std::string_view text);

// The operand's text as an expression, evaluated where it was written: its
// names resolve in the environments of their pieces, and the position and
// target are those of the invocation.
qovrin::Result<value::Value> evaluateOperand(lower::context::LowerContext& context, const value::OperandValue& operand,
                                             const expr::EvaluationContext& evaluation);

// Appends the pieces as instruction text for target, as operands of the
// mnemonic: a name the target's syntax does not claim, bound to an integer
// where its piece was written, becomes that integer in unsigned decimal;
// everything else is copied. InvalidExpression for an open quote.
qovrin::Status appendNativePieces(std::string& out, const module::Module& module, target::Target target,
                                  std::string_view mnemonic, std::span<const value::OperandPiece> pieces);

// Expands the line when its first word names a macro: false (and nothing
// done) when it names none. The body is lowered where the line stands.
qovrin::Result<bool> dispatch(module::Module& module, lower::contracts::ActiveOutput& cursor,
                              std::vector<lower::contracts::ActiveOutput>& active_outputs, std::string_view text,
                              const SourceLocation& location, lower::context::LowerContext& context);

}  // namespace frontend::macro
