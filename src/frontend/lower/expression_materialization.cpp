#include "frontend/lower/expression_materialization.hpp"

#include "frontend/lower/layout_cursor.hpp"
#include "frontend/encode/pass.hpp"

namespace frontend::lower::expression_materialization {

using qovrin::Error;
using qovrin::fail;

qovrin::Status forOutputAccess(module::Module& module) {
  // Once every instruction is settled every size is already known and every
  // label already stands at its laid-out offset, since each was placed by a
  // cursor that moved by those sizes; skipping the pass keeps each read or
  // alignment from encoding and laying out the whole module again.
  if (!module.holdsUnsettledInstruction()) return {};
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
  // While no instruction waits for its encoding the cursor has moved with
  // every fragment by its final size (or was measured again since the last
  // one waited), so measuring the section again would give the same, unless
  // a file alignment rounds the section's end.
  if (!module.sections().contains(cursor.section)) return fail(Error::InvalidSection);
  if (!module.holdsUnsettledInstruction() && module.sections()[cursor.section].alignment == 1) return {};
  QOVRIN_TRY(forOutputAccess(module));
  return layout_cursor::remeasureActiveOutput(module, cursor);
}

}  // namespace frontend::lower::expression_materialization
