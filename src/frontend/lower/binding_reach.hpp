#pragma once
// Which of its caller's bindings a function may see while it runs, so that a
// let parameter may hold a binding's value itself, a builtin read a name
// after a later argument's call, and a macro operand's environment leave out
// what its calls cannot read: a copy that shares a list or map makes its
// next change copy it whole.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "frontend/module/meta_function.hpp"

namespace frontend::lower::context {
class LowerContext;
}

namespace frontend::lower::binding_reach {

// The store a call reaches: a call in an expression runs the value function
// of its name, a call statement the statement function.
enum class Callee : std::uint8_t { value_function, statement_function };

// Sorted names, each once, shared by the answers that have the same: a
// function that names nothing its callee does not shares the callee's.
class Names {
 public:
  Names() = default;
  explicit Names(std::shared_ptr<const std::vector<std::string_view>> names) : names_(std::move(names)) {}

  std::span<const std::string_view> view() const noexcept {
    return names_ ? std::span<const std::string_view>(*names_) : std::span<const std::string_view>();
  }
  auto begin() const noexcept { return view().begin(); }
  auto end() const noexcept { return view().end(); }
  std::size_t size() const noexcept { return view().size(); }
  const std::shared_ptr<const std::vector<std::string_view>>& shared() const noexcept { return names_; }

 private:
  std::shared_ptr<const std::vector<std::string_view>> names_;
};

// What running a function may reach: every name its body names (in any
// text: conditions, instruction lines, strings) and the bodies of the
// functions it calls, transitively; or anything at all, when one of them
// runs code the search cannot follow, which sees its caller's bindings: a
// macro, an include or import, a captured operand, the encoding of earlier
// instructions, a function not defined.
struct Reach {
  bool anything = false;
  Names names;  // views into the memo's spellings
};

// The answer kept for the functions of one cycle of calls (or one function
// on none): they reach each other, so they reach the same.
struct Answer {
  Reach reach;
  std::vector<std::pair<Callee, std::uint32_t>> members;  // by store and position
  std::vector<std::weak_ptr<Answer>> composed_into;       // the answers of their callers
};

// What a definition of a name may change: an answer that met the name as a
// call in an expression or as a call statement while that store had no
// function of the name, or as a word a macro of that name would expand.
enum class Meeting : std::uint8_t { value_call, statement_call, word };

// The answers found so far, each kept until a definition may change it. A
// loop calls the same functions every round, and a walk of a long body costs
// more than a round of a short one; a caller's answer is made of its
// callees', so each body is walked once for all the answers that hold it.
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

  std::unordered_set<std::string, NameHash, std::equal_to<>> spellings;  // every name an answer holds
  std::array<std::vector<std::shared_ptr<Answer>>, 2> answers;           // by Callee, then store position
  std::array<std::unordered_map<std::string_view, std::vector<std::weak_ptr<Answer>>>, 3> waiting;  // by Meeting
  std::array<std::size_t, 3> definitions_seen{};  // value functions, statement functions, macros
  Reach anything{true, {}};
  std::optional<Asked> last;
  std::uint64_t bodies_walked = 0;  // only counted, so that a test can see the memo at work
};

// The reach of the function of that name in the callee's store, as kept in
// the context's memo; anything when that store has no function of the name.
const Reach& functionReach(context::LowerContext& context, const meta_function::Store& values, Callee callee,
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
