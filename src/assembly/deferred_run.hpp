#pragma once
// The deferred finalizers: the frozen defer blocks run last, on the patched
// image. Their small language (if, while with break and continue, let/const,
// assignments) evaluates against the final image; their calls may store into
// it, assert over it and report, but nothing that would move a byte.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module/module.hpp"
#include "frontend/module/frozen_bodies.hpp"
#include "frontend/output/image.hpp"

namespace assembly {

// The state of one finalizer run. The stored texts are parsed when they
// first run and kept, so a loop parses its body once, not once per round.
struct DeferredRunContext {
  frontend::module::Module& module;
  frontend::output::image::Image image;  // based at the current section's region
  std::uint32_t current_section = 0;
  frontend::lower::context::LowerContext& context;  // holds the finalizer's locals
  bool in_loop = false;
  frontend::expr::EvaluationHooks hooks{};
  std::unordered_map<const std::string*, frontend::expr::Node> parsed_texts{};
  std::unordered_map<const std::string*, frontend::ast::ApiCallStatement> parsed_calls{};
  std::optional<frontend::SourceLocation> failed_statement{};  // the innermost statement that failed
  std::optional<std::string> failure_cause{};                  // why it failed, when that can be told
};

// Every defer block of the module, in order, over the region rows and the
// bytes of the materialised image (InvalidSection when the current section
// has no region).
qovrin::Status runDeferredBlocks(frontend::module::Module& module,
                                 std::span<const frontend::output::image::ImageRegion> regions,
                                 std::span<std::uint8_t> bytes);

// The statements in a scope of their own; the first failure ends them.
qovrin::Status runDeferredScopedStatements(DeferredRunContext& run,
                                           std::span<const frontend::output::contracts::DeferredStatement> statements);

// One argument of print, warn, err or assert as message text.
qovrin::Result<std::string> formatDeferredDiagnosticArg(DeferredRunContext& run,
                                                        const frontend::ast::ApiCallArgument& argument);

}  // namespace assembly
