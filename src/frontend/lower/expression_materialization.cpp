#include "frontend/lower/expression_materialization.hpp"

#include <algorithm>

#include "frontend/lower/layout_cursor.hpp"
#include "frontend/pass.hpp"

namespace frontend::lower::expression_materialization {

using qovrin::Error;
using qovrin::fail;

qovrin::Status forOutputAccess(module::Module& module) {
  // Without instruction fragments every size is already known and every
  // label already stands at its laid-out offset; skipping the pass keeps
  // stores and alignments in long data runs from relaying the whole module.
  const auto fragments = module.fragments();
  if (std::ranges::none_of(fragments, [](const fragment::Fragment& piece) { return piece.instruction() != nullptr; }))
    return {};
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
  QOVRIN_TRY(forOutputAccess(module));
  return layout_cursor::remeasureActiveOutput(module, cursor);
}

}  // namespace frontend::lower::expression_materialization
