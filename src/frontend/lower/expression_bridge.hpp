#pragma once
// Lowering's side of expression evaluation: the evaluation context built from
// the lowering state and the write position, the file access the file
// builtins get through the driver's include callbacks, and the translation of
// evaluator failures into lowering failures and back.

#include <cstdint>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/include_callbacks.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/value.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::expression_bridge {

// Lowering failures that surface inside an evaluation (a value function's
// body): those the evaluator shares stay, every other becomes InvalidOperand.
qovrin::Error mapLowerErrorToExpression(qovrin::Error error) noexcept;

// Binds the context's evaluator hooks and file hooks to it; called once when
// the context is made.
void bindHooks(context::LowerContext& context);

// Points the file builtins at the innermost source being lowered.
void syncFileBase(context::LowerContext& context);

// An integer at the cursor with the given services (TypeMismatch, reported as
// InvalidExpression, for any other kind). Runs no encode pass.
qovrin::Result<std::uint64_t> evalIntegerAtContext(module::Module& module, context::LowerContext& context,
                                                   const contracts::ActiveOutput& cursor,
                                                   const expr::EvaluationHooks& hooks, const expr::Node& node);

struct ResolvedFile {
  std::string path;  // as found
  std::string text;
};

// The file hooks: each asks the driver's callbacks with the request, the
// existence test asking for none of the file's contents. Without file access
// (or without the callback) read and list fail with FileNotAvailable and the
// two tests answer false; a callback failure other than OutOfMemory (or, for
// a window read, InvalidApiInteger) reads the same way.
qovrin::Result<ResolvedFile> readResolvedMetaFile(context::LowerContext& context,
                                                  const contracts::IncludeRequest& request);
qovrin::Result<bool> metaFileExists(context::LowerContext& context, contracts::IncludeRequest request);
qovrin::Result<std::vector<std::string>> listResolvedMetaDir(context::LowerContext& context,
                                                             const contracts::IncludeRequest& request);
qovrin::Result<bool> metaFileIsDir(context::LowerContext& context, const contracts::IncludeRequest& request);

}  // namespace frontend::lower::expression_bridge

namespace frontend::lower::root {

// A value at the cursor with lowering's standard services.
qovrin::Result<value::Value> evalValueAtContext(module::Module& module, context::LowerContext& context,
                                                const contracts::ActiveOutput& cursor, const expr::Node& node);

// An integer at the cursor with lowering's standard services.
qovrin::Result<std::uint64_t> evalIntegerAtContext(module::Module& module, context::LowerContext& context,
                                                   const contracts::ActiveOutput& cursor, const expr::Node& node);

}  // namespace frontend::lower::root
