#pragma once
// A slice of statements lowered in order, with or without a meta scope of its
// own: the statement switch every block and body goes through.

#include <span>
#include <vector>

#include "common/error.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/ast.hpp"

namespace frontend::lower::root {

// Saved write positions behind virtual.begin; empty outside virtual regions.
using ActiveOutputStack = std::vector<contracts::ActiveOutput>;

// The statements in order; the first failure ends the slice. A failure is
// reported once, by the innermost statement that has not reported it yet.
qovrin::Status lowerStatementSlice(module::Module& module, contracts::ActiveOutput& cursor,
                                   ActiveOutputStack& active_outputs, std::span<const ast::Statement> statements,
                                   context::LowerContext& context);

// As lowerStatementSlice, inside a fresh meta scope.
qovrin::Status lowerScopedStatementSlice(module::Module& module, contracts::ActiveOutput& cursor,
                                         ActiveOutputStack& active_outputs, std::span<const ast::Statement> statements,
                                         context::LowerContext& context);

}  // namespace frontend::lower::root
