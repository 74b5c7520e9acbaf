#include "frontend/lower/expression_materialization.hpp"

#include "frontend/lower/layout_cursor.hpp"
#include "frontend/encode/pass.hpp"

namespace frontend::lower::expression_materialization {

using qovrin::Error;
using qovrin::fail;

qovrin::Status forOutputAccess(module::Module& module) {
  // Without instruction fragments every size is already known and every
  // label already stands at its laid-out offset; skipping the pass keeps
  // stores in long data runs from laying out the whole module each time.
  if (!module.everHeldInstructions()) return {};
  const auto counts = pass::encodeInstructionFragments(module);
  if (!counts) {
    switch (counts.error()) {
      case Error::InstructionTooLarge:
      case Error::InvalidInstructionText:
      case Error::InvalidFixupTarget:
        return fail(Error::InvalidApiArgument);
      default:
        return fail(counts.error());
    }
  }
  if (counts->changed > counts->instruction_fragments) return fail(Error::InvalidApiArgument);
  return {};
}

qovrin::Status syncActiveOutput(module::Module& module, contracts::ActiveOutput& cursor) {
  // Until an instruction exists the cursor has moved with every fragment by
  // its exact size, so measuring the section again would give the same,
  // unless a file alignment rounds the section's end.
  if (!module.sections().contains(cursor.section)) return fail(Error::InvalidSection);
  if (!module.everHeldInstructions() && module.sections()[cursor.section].alignment == 1) return {};
  QOVRIN_TRY(forOutputAccess(module));
  return layout_cursor::remeasureActiveOutput(module, cursor);
}

}  // namespace frontend::lower::expression_materialization
