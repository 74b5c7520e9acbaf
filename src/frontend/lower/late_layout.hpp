#pragma once
// late_layout blocks: frozen at lowering into API-call texts and conditionals,
// and run after instruction encoding, when instruction sizes are known, through
// the same API dispatch as ordinary statements, so a late call behaves like
// the same call written at that point of the output.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/deferred.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/module/module.hpp"
#include "frontend/module/frozen_bodies.hpp"

namespace frontend::lower::late_layout {

using ConditionEvaluator = qovrin::Result<bool> (*)(module::Module& module, context::LowerContext& context,
                                                    const contracts::ActiveOutput& cursor, std::string_view text);

// What freezing consults.
struct FreezeCallbacks {
  deferred::AllowedApi allowed;
  ConditionEvaluator condition;
};

// At top level: calls and if statements copied as written; conditions stay
// for the run to decide. Anything else, or a call that is not allowed, is
// InvalidLateLayout.
qovrin::Result<output::contracts::LateLayoutStatementList> cloneStatementSlice(
    std::span<const ast::Statement> statements, const FreezeCallbacks& callbacks);

// Inside a meta scope: an if is decided now and only the chosen branch is
// kept; a call is kept with its arguments frozen (a local without a literal
// form is InvalidApiArgument). Appends what the statement yields to out.
qovrin::Status freezeStatementAppend(module::Module& module, context::LowerContext& context,
                                     const contracts::ActiveOutput& cursor, const ast::Statement& statement,
                                     output::contracts::LateLayoutStatementList& out, const FreezeCallbacks& callbacks);

using ApiCallRunner = qovrin::Status (*)(module::Module& module, contracts::ActiveOutput& cursor,
                                         root::ActiveOutputStack& active_outputs, context::LowerContext& context,
                                         const output::contracts::LateLayoutCall& call);

// What the run is handed. The two cursor providers are for the caller that
// places the cursor; the run itself calls only the last two.
struct LateLayoutCallbacks {
  qovrin::Result<std::uint64_t> (*section_cursor)(const module::Module& module, std::uint32_t section);
  qovrin::Result<std::uint64_t> (*section_file_cursor)(const module::Module& module, std::uint32_t section);
  ApiCallRunner api_call;
  ConditionEvaluator condition;
};

// The statements in order; calls move the cursor, conditionals run one of
// their lists. The first failure ends the run; what ran before it stays, and
// the failing statement's place goes to failed_at when that is given, with
// the cause of a failed call, when it can be told, to failed_cause.
qovrin::Status runStatements(module::Module& module, contracts::ActiveOutput& cursor,
                             root::ActiveOutputStack& active_outputs, context::LowerContext& context,
                             std::span<const output::contracts::LateLayoutStatement> statements,
                             const LateLayoutCallbacks& callbacks, std::optional<SourceLocation>* failed_at = nullptr,
                             std::optional<std::string>* failed_cause = nullptr);

}  // namespace frontend::lower::late_layout

namespace frontend::lower::root {

// A late conditional, in the language of meta if conditions.
qovrin::Result<bool> evalLateLayoutCondition(module::Module& module, context::LowerContext& context,
                                             const contracts::ActiveOutput& cursor, std::string_view text);

// Parses the frozen call again and lowers it like a call statement at the cursor.
qovrin::Status runLateLayoutApiCall(module::Module& module, contracts::ActiveOutput& cursor,
                                    ActiveOutputStack& active_outputs, context::LowerContext& context,
                                    const output::contracts::LateLayoutCall& call);

}  // namespace frontend::lower::root
