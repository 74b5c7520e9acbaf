#pragma once
// Evaluation of meta expression trees into values. Integers are unsigned
// 64-bit words: binary +, - and * fail on overflow in meta code but wrap in
// an instruction operand, as the machine's do (EvaluationContext::wrapping);
// / and % fail on a zero divisor; a negation wraps (-1 is 2^64 - 1) and a
// shift drops the bits it moves out. Floats must stay finite. What an
// evaluation may reach (module, position, image, the caller's locals and
// services) comes in one EvaluationContext.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/meta_std/meta_io.hpp"
#include "frontend/module/module.hpp"
#include "frontend/output/image.hpp"
#include "frontend/values/target.hpp"
#include "frontend/values/value.hpp"

namespace frontend::expr {

struct EvaluationContext;

// The caller's services. An empty hook is a service this evaluation lacks.
struct EvaluationHooks {
  // A copy of the caller's local of that name, if there is one.
  std::function<qovrin::Result<std::optional<value::Value>>(std::string_view name)> resolve_local;
  // The same local itself, null when there is none, for a builtin that only
  // reads it: given together with resolve_local, and agreeing with it.
  std::function<value::Value*(std::string_view name)> find_local;
  // A fresh name starting with prefix.
  std::function<qovrin::Result<std::string>(std::string_view prefix)> unique_symbol;
  // A call of a value function of the language, arguments unevaluated.
  std::function<qovrin::Result<value::Value>(std::string_view name, std::span<const BuiltinArgument> arguments,
                                             const EvaluationContext& context)>
      call_value_function;
  // Whether the value function of that name may read or assign a binding
  // of the given name while it runs; absent, every function may.
  std::function<bool(std::string_view function, std::string_view binding, const EvaluationContext& context)>
      function_may_reach;
  // A struct literal written as raw "Type{ ... }" text.
  std::function<qovrin::Result<value::Value>(std::string_view text, const EvaluationContext& context)>
      eval_struct_literal;
  // The value of a captured macro operand.
  std::function<qovrin::Result<value::Value>(const value::OperandValue& operand, const EvaluationContext& context)>
      evaluate_operand;
};

// A binding whose value the call at `call` takes as its first argument
// instead of a copy, because the call's result is about to replace it; the
// call takes it once its other arguments are evaluated.
struct Handover {
  const Node* call = nullptr;
  std::string_view name;
  value::Value* source = nullptr;
};

struct EvaluationContext {
  module::Module& module;
  std::uint64_t offset = 0;                      // position inside the current section
  std::optional<std::uint64_t> file_cursor{};    // real file cursor of that position
  const output::image::Image* image = nullptr;   // present once laid out
  const meta_io::MetaFileHooks* file_hooks = nullptr;     // absent: no file access
  const EvaluationHooks* hooks = nullptr;        // absent: no caller services at all
  std::span<const std::string> blocked_names{};  // names that must not resolve
  std::optional<target::Target> target{};        // overrides the module's for target.bits
  std::optional<std::uint32_t> current_section{};
  Handover handover{};
  // Instruction operands compute as the machine does: +, - and * wrap
  // around 64 bits (two's complement) instead of failing, and the field
  // that receives the result checks its range.
  bool wrapping = false;
};

qovrin::Result<value::Value> evaluateValue(const Node& node, const EvaluationContext& context);

// As evaluateValue, requiring an integer or a boolean (else TypeMismatch).
qovrin::Result<std::uint64_t> evaluateInteger(const Node& node, const EvaluationContext& context);
qovrin::Result<bool> evaluateBoolean(const Node& node, const EvaluationContext& context);

// The value of the operation `link` whose left operand is known to be
// `left`, without evaluating that operand again, so that a search along a
// long chain evaluates each link once. Any other node is evaluated whole.
qovrin::Result<value::Value> evaluateLink(const Node& link, const value::Value& left,
                                          const EvaluationContext& context);

// Structural equality of the two values (left evaluated first); values of
// different kinds are unequal, never an error.
qovrin::Result<bool> valuesEqual(const Node& left, const Node& right, const EvaluationContext& context);

// A name's value: blocked names, the caller's locals, type names, fixed-width
// integer type names, module symbols, in that order.
qovrin::Result<value::Value> resolveSymbolValue(const EvaluationContext& context, std::string_view name);

// The integer type bound to name, created on first use; failures other than
// running out of memory are reported as InvalidOperand.
qovrin::Result<std::uint32_t> getOrAddBuiltinType(module::Module& module, std::string_view name, std::uint16_t bits,
                                                  bool is_signed);

// Folds integer literals and integer operators of an instruction operand
// without any context, wrapping as such operands do; none for anything that
// needs one (names, calls, comparisons, logic); TypeMismatch for a float,
// string, bytes or boolean literal, which no context turns into an integer.
qovrin::Result<std::optional<std::uint64_t>> constantIntegerValue(const Node& node);

// Why constantIntegerValue failed with TypeMismatch: "it combines a string
// with an integer", "it is a float64, not an integer".
std::string constantMismatchReason(const Node& node);

// Whether the tree calls load.bytes or load.u8 ... load.u64 anywhere, so that
// pending instructions must be encoded before it is evaluated.
bool usesOutputLoad(const Node& node) noexcept;

// A builtin call name(arguments), or a call of a value function of the language.
qovrin::Result<value::Value> evalBuiltinCall(const Node& call, const EvaluationContext& context);

// Whether call is one of the loads of emitted output, load.bytes and
// load.u8 ... load.u64.
bool readsOutput(const Node& call) noexcept;

// Whether call is one of the library builtins whose result is its first
// argument changed in place, so that it may take that argument over
// (list.set, map.set, sym.join).
bool handsBackFirstArgument(const Node& call) noexcept;

// One builtin argument's value: an expression is evaluated, a bare name
// resolved, raw struct-literal text handed to the struct-literal hook.
qovrin::Result<value::Value> evaluateBuiltinValueArg(const BuiltinArgument& argument, const EvaluationContext& context);

}  // namespace frontend::expr
