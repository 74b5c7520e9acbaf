#pragma once
// Which of its caller's bindings a function may see while it runs, so that a
// let parameter may hold a binding's value itself, a builtin read a name
// after a later argument's call, and a macro operand's environment leave out
// what its calls cannot read: a copy that shares a list or map makes its
// next change copy it whole.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "frontend/module/meta_function.hpp"

namespace frontend::lower::context {
class LowerContext;
}

namespace frontend::lower::binding_reach {

// What running the functions of one name may reach: every name their bodies
// name (in any text: conditions, instruction lines, strings) and the bodies
// of the functions they call, transitively; or anything at all, when one of
// them runs code the search cannot follow, which sees its caller's bindings:
// a macro, an include or import, a captured operand, the encoding of earlier
// instructions, a function not defined.
struct Reach {
  bool anything = false;
  std::vector<std::string> names;  // sorted, each once
};

// The reaches found so far by function name. They hold while no function or
// macro is defined, since a definition may give a name a body to follow:
// then all are forgotten. A loop calls the same functions every round, and
// a walk of a long body costs more than a round of a short one.
struct Memo {
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
  };

  // The last question of a value call's later argument, and its answer: a
  // loop asks the same one every round, cheaper to compare than to look up.
  struct Asked {
    std::string function;
    std::string binding;
    bool reaches = false;
  };

  std::size_t definitions = 0;
  std::unordered_map<std::string, Reach, NameHash, std::equal_to<>> functions;
  std::optional<Asked> last;
  std::uint64_t bodies_walked = 0;  // only counted, so that a test can see the memo at work
};

// The reach of the value and statement functions of that name, as kept in
// the context's memo; anything when no function has the name.
const Reach& functionReach(context::LowerContext& context, const meta_function::Store& values,
                           std::string_view function);

// True when the reach may name the name. An empty name stands for a binding
// nothing can name, which only code the search cannot follow may reach. A
// name a body names may be one of its own; the answer then errs on the side
// of the copy.
bool mayName(const Reach& reach, std::string_view name) noexcept;

// Whether a call of the value function of that name may read or assign the
// binding; true for a name that no value function has.
bool valueFunctionMayReach(context::LowerContext& context, const meta_function::Store& values,
                           std::string_view function, std::string_view binding);

}  // namespace frontend::lower::binding_reach
