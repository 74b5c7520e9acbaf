#pragma once
// API calls: the one dispatcher behind every `name(arg, ...)` statement, the
// name tables other parts consult (data directives, store widths, the calls a
// defer or late_layout block may hold), and the calls that open, close and
// retarget output regions.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/target.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::api {

// Every name the dispatcher knows, in the order of its table.
std::span<const std::string_view> callNames() noexcept;

// The calls a late_layout block may hold: they only place bytes relative to
// what is already there, never define names, switch targets or read files.
bool isAllowedLateLayoutApi(std::string_view name) noexcept;

// Lowers one call. Failures come back unreported, except an unknown name,
// which is reported at the call; `err` ends lowering with FrontendDiagnostics
// once its message is recorded.
qovrin::Status lowerApiCall(module::Module& module, contracts::ActiveOutput& cursor,
                            root::ActiveOutputStack& active_outputs, const ast::ApiCallStatement& call,
                            context::LowerContext& context);

// Output regions, virtual regions, labels by name and target switches.
qovrin::Status lowerOrigin(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                           const ast::ApiCallStatement& call);
qovrin::Status lowerRegionBegin(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                                const ast::ApiCallStatement& call);
qovrin::Status lowerRegionFileAlign(module::Module& module, context::LowerContext& context,
                                    contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call);
// output.org places the new section's file offset after the memory size so
// far, output.section after the file size.
qovrin::Status lowerOutputOrg(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                              const ast::ApiCallStatement& call, bool after_file_cursor);
qovrin::Status lowerVirtualBegin(module::Module& module, context::LowerContext& context,
                                 contracts::ActiveOutput& cursor, root::ActiveOutputStack& active_outputs,
                                 const ast::ApiCallStatement& call);
qovrin::Status lowerVirtualEnd(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                               root::ActiveOutputStack& active_outputs, const ast::ApiCallStatement& call);
qovrin::Status lowerLabelDefine(module::Module& module, context::LowerContext& context,
                                const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call);
qovrin::Status lowerTargetSwitch(module::Module& module, contracts::ActiveOutput& cursor,
                                 const ast::ApiCallStatement& call, target::Target target);

}  // namespace frontend::lower::api

namespace frontend::lower::root {

// InvalidApiArity unless the call has exactly count arguments.
qovrin::Status requireArgCount(const ast::ApiCallStatement& call, std::size_t count) noexcept;

// The calls a defer block may hold: it runs on the finished image, so it may
// report and overwrite bytes but not add any.
bool isAllowedDeferredApi(std::string_view name) noexcept;

}  // namespace frontend::lower::root
