#include "assembly/late_layout_run.hpp"

#include "assembly/frozen_block.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/late_layout.hpp"
#include "frontend/lower/layout_cursor.hpp"

namespace assembly {

using qovrin::Error;
using qovrin::fail;
namespace lower = frontend::lower;

qovrin::Status runLateLayoutBlocks(frontend::module::Module& module) {
  // Nothing from lowering survives: no include callbacks, no files, no
  // scopes, functions or macros.
  lower::context::LowerContext context(lower::contracts::PathOptions{});
  lower::expression_bridge::bindHooks(context);

  const std::uint32_t section = module.currentSection();
  if (section >= module.sections().size()) return fail(Error::InvalidSection);
  const lower::late_layout::LateLayoutCallbacks callbacks{
      &lower::layout_cursor::sectionCursor,
      &lower::layout_cursor::sectionFileCursor,
      &lower::root::runLateLayoutApiCall,
      &lower::root::evalLateLayoutCondition,
  };
  const auto offset = callbacks.section_cursor(module, section);
  if (!offset) return fail(offset.error());
  const auto file_cursor = callbacks.section_file_cursor(module, section);
  if (!file_cursor) return fail(file_cursor.error());
  lower::contracts::ActiveOutput cursor{*offset, *file_cursor, section, module.target(), false};
  lower::root::ActiveOutputStack active_outputs;

  // By index: the blocks' calls add fragments and sections to the module.
  for (std::size_t index = 0; index < module.lateLayoutBlocks().size(); ++index) {
    const auto& block = module.lateLayoutBlocks()[index];
    const std::size_t diagnostics_before = module.diagnostics().diagnostics().size();
    const BlockExpansionScope expansion(module, block.location);
    std::optional<frontend::SourceLocation> failed_statement;
    std::optional<std::string> failed_cause;
    const auto ran = lower::late_layout::runStatements(module, cursor, active_outputs, context, block.statements,
                                                       callbacks, &failed_statement, &failed_cause);
    if (!ran)
      return fail(blockFailure(module, {block.location, "late_layout", failed_statement, &failed_cause},
                               diagnostics_before, ran.error()));
  }
  if (active_outputs.empty()) return {};
  // The summary line has no place; the note names the call left open.
  if (!context.virtual_begins.empty())
    module.diagnostics().addSingle(frontend::diagnostic::Severity::note, context.virtual_begins.back(),
                                   "this virtual.begin in a 'late_layout' block has no virtual.end before the last "
                                   "'late_layout' block ends");
  return fail(Error::UnclosedVirtualOutput);
}

}  // namespace assembly
