#pragma once
// Calls of `fn` definitions. A statement function runs its body as
// statements where the call stands and may write back into the caller's let
// bindings; a value function runs inside an expression, may not change the
// output, and gives the value of its `return`.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/value.hpp"

namespace frontend::lower::meta_function_runtime {

// The sym.unique hook: prefix, "__" and the next number of the run, from 0.
qovrin::Result<std::string> nextUniqueSymbol(context::LowerContext& context, std::string_view prefix);

// Statement functions are defined in the context, value functions in the
// module; InvalidMetaFunction inside any scope.
qovrin::Status defineMetaFunction(module::Module& module, context::LowerContext& context,
                                  const ast::MetaFunctionStatement& statement);

// Macros are added to the context; InvalidMacro inside any scope.
qovrin::Status defineMacro(context::LowerContext& context, const ast::MetaFunctionStatement& statement);

// One nested call of a function: the shared depth goes up (MetaCallDepthExceeded
// past the limit) and the body runs outside any loop; both are put back on
// every way out.
class CallFrame {
 public:
  explicit CallFrame(context::LowerContext& context) noexcept;
  ~CallFrame();
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  qovrin::Status enter() noexcept;

 private:
  context::LowerContext& context_;
  bool in_loop_;
  bool entered_ = false;
};

// The value converted to the type written for a parameter or a result; an
// unknown type name fails with InvalidValueDeclaration.
qovrin::Status coerceToTypeName(module::Module& module, value::Value& value, std::string_view type_name);

}  // namespace frontend::lower::meta_function_runtime

namespace frontend::lower::root {

// The statement function at index of the context's store, called by call.
qovrin::Status lowerMetaFunctionCall(module::Module& module, contracts::ActiveOutput& cursor,
                                     ActiveOutputStack& active_outputs, context::LowerContext& context,
                                     std::uint32_t function, const ast::ApiCallStatement& call);

}  // namespace frontend::lower::root
