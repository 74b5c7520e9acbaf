#pragma once
// Conditions of if, else if and while. The parser keeps them as text; a few
// fixed forms (true, false, defined(name), target comparisons) are read
// directly, everything else is a boolean expression.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/target.hpp"

namespace frontend::lower::meta_condition {

// A letter, "_" or "." followed by letters, digits, "$", "." or "_".
bool isMetaName(std::string_view text) noexcept;

// A condition read once, so that a loop evaluates it every round without
// reading its text again.
struct PreparedCondition {
  enum class Form : std::uint8_t { constant, defined, target_bits, target_isa, expression };

  Form form = Form::constant;
  bool constant = false;
  bool equal = true;  // "==" rather than "!="
  std::string name;   // Form::defined
  target::Isa isa = target::Isa::x86;
  std::optional<expr::Node> tree;  // target_bits: the compared width; expression: the whole condition
};

qovrin::Result<PreparedCondition> prepareCondition(std::string_view text);

qovrin::Result<bool> evaluatePrepared(module::Module& module, context::LowerContext& context,
                                      const contracts::ActiveOutput& cursor, const PreparedCondition& condition);

}  // namespace frontend::lower::meta_condition

namespace frontend::lower::root {

// The condition's truth at the cursor, whose target and section it sees.
qovrin::Result<bool> evalMetaCondition(module::Module& module, context::LowerContext& context,
                                       const contracts::ActiveOutput& cursor, std::string_view text);

// A boolean expression at the cursor (TypeMismatch, reported as
// InvalidExpression, for any other kind).
qovrin::Result<bool> evalBooleanAtContext(module::Module& module, context::LowerContext& context,
                                          const contracts::ActiveOutput& cursor, const expr::Node& node);

}  // namespace frontend::lower::root
