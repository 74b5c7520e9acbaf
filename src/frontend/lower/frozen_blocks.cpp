// defer and late_layout statements: their bodies are frozen into the module,
// for assembly to run after encoding (late_layout) or on the finished image
// (defer).

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "frontend/lower/api.hpp"
#include "frontend/lower/deferred.hpp"
#include "frontend/lower/late_layout.hpp"
#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/statement_cases.hpp"

namespace frontend::lower::statement_cases {

using qovrin::fail;

namespace {

// A block written by a macro keeps the expansion it came from, so that what
// it reports when it runs carries that macro's notes.
SourceLocation blockLocation(const module::Module& module, const SourceLocation& location) {
  SourceLocation stamped = location;
  if (!stamped.expansion) stamped.expansion = module.diagnostics().currentExpansion();
  return stamped;
}

}  // namespace

qovrin::Status lowerDeferBlock(Lowering& lowering, const ast::DeferStatement& statement) {
  output::contracts::DeferredBlock block;
  block.location = blockLocation(lowering.module, statement.location);
  if (lowering.context.scopes.empty()) {
    auto statements = deferred::cloneStatementSlice(statement.body, &root::isAllowedDeferredApi);
    if (!statements) return fail(statements.error());
    block.statements = std::move(*statements);
  } else {
    // The scopes are gone when the block runs: here() is where the defer
    // statement stands, and the locals it reads travel with it.
    const auto here = layout_cursor::activeAddress(lowering.module, lowering.cursor);
    if (!here) return fail(here.error());
    std::vector<output::contracts::DeferredCapture> captures;
    deferred::Freezer freezer{lowering.context, &captures};
    const std::optional<std::uint64_t> outer_here = std::exchange(lowering.context.here, *here);
    auto statements = deferred::freezeStatementSlice(freezer, statement.body, &root::isAllowedDeferredApi);
    lowering.context.here = outer_here;
    if (!statements) return fail(statements.error());
    block.statements = std::move(*statements);
    block.captures = std::move(captures);
  }
  lowering.module.deferredBlocks().push_back(std::move(block));
  return {};
}

qovrin::Status lowerLateLayoutBlock(Lowering& lowering, const ast::LateLayoutStatement& statement) {
  const late_layout::FreezeCallbacks callbacks{&api::isAllowedLateLayoutApi, &root::evalLateLayoutCondition};
  output::contracts::LateLayoutBlock block;
  block.location = blockLocation(lowering.module, statement.location);
  if (lowering.context.scopes.empty()) {
    auto statements = late_layout::cloneStatementSlice(statement.body, callbacks);
    if (!statements) return fail(statements.error());
    block.statements = std::move(*statements);
  } else {
    const contracts::ActiveOutput cursor = lowering.cursor;
    for (const ast::Statement& body_statement : statement.body)
      QOVRIN_TRY(late_layout::freezeStatementAppend(lowering.module, lowering.context, cursor, body_statement,
                                                    block.statements, callbacks));
  }
  lowering.module.lateLayoutBlocks().push_back(std::move(block));
  return {};
}

}  // namespace frontend::lower::statement_cases
