#pragma once
// Expressions written back as source text, for messages and for blocks that
// run after lowering, and the freezing of defer blocks: their statements
// become owned texts that no longer depend on the meta scopes lowering had
// open, because those scopes are gone when the finalizers run.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module/frozen_bodies.hpp"
#include "frontend/values/value.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::deferred {

// Whether a call of that name may stand in a frozen block.
using AllowedApi = bool (*)(std::string_view name) noexcept;

// What freezing one block needs besides the lowering state (whose "here",
// when set, is the address a here() stands for): where locals without a
// literal form go, and the names the block itself declared so far (those
// stay names).
struct Freezer {
  context::LowerContext& context;
  std::vector<output::contracts::DeferredCapture>* captures = nullptr;  // none: such locals are refused
  std::vector<std::string_view> declared{};
};

// The same text with the meta locals the tree reads replaced by literals of
// their current values (or captured) and here() by the context's address.
qovrin::Result<std::string> renderFrozenExpression(Freezer& freezer, const expr::Node& node);

// A local's value as source text; a void value, or a value without a literal
// form while nothing captures, is InvalidApiArgument.
qovrin::Result<std::string> renderFrozenLocal(Freezer& freezer, std::string_view name, const value::Value& value);

// name(arg, ...) with expression arguments frozen and strings written as
// literals; a struct-literal argument is InvalidApiArgument.
qovrin::Result<std::string> freezeApiCallText(Freezer& freezer, const ast::ApiCallStatement& call);

// Inside a meta scope: every statement frozen. Any statement other than
// let/const, an assignment, an allowed call, if, while, break or continue is
// FinalizerCannotChangeLayout.
qovrin::Result<output::contracts::DeferredStatementList> freezeStatementSlice(
    Freezer& freezer, std::span<const ast::Statement> statements, AllowedApi allowed);

// At top level: the same statements copied as written; names and here() are
// read when the finalizer runs.
qovrin::Result<output::contracts::DeferredStatementList> cloneStatementSlice(std::span<const ast::Statement> statements,
                                                                             AllowedApi allowed);

}  // namespace frontend::lower::deferred
