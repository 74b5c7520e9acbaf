#pragma once
// list.push_mut, list.set_mut and map.set_mut: the calls that change a list
// or map bound by let in place, where an assignment would copy it.

#include <optional>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/value.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::collection_mutation {

// The value the call's first argument names: a let local, or outside value
// functions a module value declared with let. Every refusal is reported at
// the call and fails with FrontendDiagnostics.
qovrin::Result<value::Value*> mutableTarget(module::Module& module, context::LowerContext& context,
                                            const ast::ApiCallStatement& call);

// Whether the call is one of the three. As views the names differ by length
// before any character is compared; a std::string against a literal compares
// characters first, which cost 5% of 1M `db(1)` lines; called, the test
// took 6 instructions more on each of them (bench/data_throughput.py,
// callgrind).
inline bool isCollectionMutation(const ast::ApiCallStatement& call) noexcept {
  const std::string_view name = call.name;
  return name == "list.push_mut" || name == "list.set_mut" || name == "map.set_mut";
}

// Runs one of the three calls.
qovrin::Status lowerCollectionMutation(module::Module& module, context::LowerContext& context,
                                       const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call);

}  // namespace frontend::lower::collection_mutation
