#pragma once
// What the late-layout run and the deferred finalizers share: while a frozen
// block runs, the diagnostics store's current expansion is the block's own,
// and a block that fails without having reported anything is reported at its
// location when a macro wrote it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/source_location.hpp"

namespace assembly {

class BlockExpansionScope {
 public:
  BlockExpansionScope(frontend::module::Module& module, const frontend::SourceLocation& block)
      : diagnostics_(module.diagnostics()), previous_(diagnostics_.currentExpansion()) {
    diagnostics_.setCurrentExpansion(block.expansion);
  }
  ~BlockExpansionScope() { diagnostics_.setCurrentExpansion(previous_); }
  BlockExpansionScope(const BlockExpansionScope&) = delete;
  BlockExpansionScope& operator=(const BlockExpansionScope&) = delete;

 private:
  frontend::diagnostic::DiagnosticStore& diagnostics_;
  std::optional<std::uint32_t> previous_;
};

// Where a block failed: the block, its keyword and, when known, the innermost
// statement inside it that failed and why.
struct FailedBlock {
  const frontend::SourceLocation& location;
  std::string_view keyword;  // "defer" or "late_layout"
  const std::optional<frontend::SourceLocation>& statement;
  const std::optional<std::string>* cause = nullptr;  // told at the statement, when known
};

// The error a failed block ends the run with: FrontendDiagnostics after one
// error diagnostic named after the error, with the cause beside it, when a
// macro expansion wrote the block and nothing was reported since
// diagnostics_before; else the error, after notes at the failing statement
// and at the block, since the line that names the error has no place of its
// own. A block whose statement reported its own error (err, a failed assert)
// gets the note at the block after it.
qovrin::Error blockFailure(frontend::module::Module& module, const FailedBlock& block, std::size_t diagnostics_before,
                           qovrin::Error error);

}  // namespace assembly
