#include <array>

#include "common/name_table.hpp"
#include "frontend/expr_eval.hpp"
#include "frontend/meta_data.hpp"
#include "frontend/meta_std.hpp"

namespace frontend::expr {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

constexpr std::array<std::string_view, 4> kOperandBuiltins = {"operand.text", "operand.slice", "operand.eval",
                                                              "operand.split"};

// Builtins tied to the assembler's own state.
constexpr std::array<std::string_view, 22> kAssemblerBuiltins = {
    "f32",
    "f64",
    "sizeof",
    "lengthof",
    "pack",
    "offset_of",
    "here",
    "region_base",
    "file_offset",
    "file_cursor_real",
    "file_cursor_potential",
    "tail_reserve_size",
    "region_file_offset",
    "region_file_size",
    "region_logical_size",
    "label_addr",
    "sym.unique",
    "load.bytes",
    "load.u8",
    "load.u16",
    "load.u32",
    "load.u64",
};

bool isBuiltinName(std::string_view name) noexcept {
  return qovrin::indexOfName(kOperandBuiltins, name) || meta_std::isBuiltinName(name) ||
         meta_data::lookupBuiltin(name) || qovrin::indexOfName(kAssemblerBuiltins, name);
}

}  // namespace

qovrin::Result<Value> evalBuiltinCall(const Node& call, const EvaluationContext& context) {
  const std::string_view name = call.text;
  // Builtin names come before value functions, so a value function can never
  // shadow one; a builtin this evaluator does not provide fails as an
  // unknown call does.
  if (isBuiltinName(name)) return fail(Error::InvalidOperand);
  if (context.hooks != nullptr && context.hooks->call_value_function)
    return context.hooks->call_value_function(name, call.arguments, context);
  return fail(Error::InvalidOperand);
}

qovrin::Result<Value> evaluateBuiltinValueArg(const BuiltinArgument& argument, const EvaluationContext& context) {
  switch (argument.kind) {
    case BuiltinArgument::Kind::expression:
      return evaluateValue(*argument.expression, context);
    case BuiltinArgument::Kind::bare_name:
      return resolveSymbolValue(context, argument.text);
    case BuiltinArgument::Kind::raw_text:
      break;
  }
  if (context.hooks == nullptr || !context.hooks->eval_struct_literal) return fail(Error::MissingEvaluationContext);
  return context.hooks->eval_struct_literal(argument.text, context);
}

}  // namespace frontend::expr
