#pragma once
// Which of its caller's bindings a function body may see while it runs, so
// that a let parameter may hold a binding's value itself, and a macro
// operand's environment leave out what its calls cannot read: a copy that
// shares a list or map makes its next change copy it whole.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "frontend/lower/context.hpp"
#include "frontend/module/meta_function.hpp"
#include "frontend/syntax/ast.hpp"

namespace frontend::lower::binding_reach {

// Receives each name a body names; true stops the search.
using NameVisit = std::function<bool(std::string_view name)>;

// Calls visit on every name the body names (in any text: conditions,
// instruction lines, strings), and stops early, true, when it returns true
// or the body runs code written elsewhere, which sees its caller's
// bindings: a value or statement function, a macro, an include or import, a
// captured operand, the encoding of earlier instructions.
bool forEachName(const context::LowerContext& context, const ast::StatementList& body, const NameVisit& visit);

// True when the body names the name or runs code written elsewhere. An
// empty name stands for a binding the body cannot name. A name the body
// names may be one of its own; the answer then errs on the side of the copy.
bool bodyMayReach(const context::LowerContext& context, const ast::StatementList& body, std::string_view name);

// Whether the value function of that name may reach the binding, the last
// answer kept: a loop asks the same of every round, and a walk of the body
// cost a fifth of a round that calls a small function. The answer holds
// while no function or macro is defined.
class FunctionReach {
 public:
  bool mayReach(const context::LowerContext& context, const meta_function::Store& functions,
                std::string_view function, std::string_view binding);

 private:
  std::string function_;
  std::string binding_;
  std::size_t definitions_ = 0;
  bool reaches_ = true;
  bool known_ = false;
};

}  // namespace frontend::lower::binding_reach
