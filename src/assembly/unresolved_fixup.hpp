#pragma once
// Why a fixup's target stayed without a number, in the words of the note the
// driver prints beside the count of unresolved fixups. Only the failure path
// asks, so the explanation may evaluate parts of the target again.

#include <string>

#include "frontend/module/fixup.hpp"
#include "frontend/module/module.hpp"
#include "frontend/evaluate/expr_eval.hpp"

namespace assembly {

// The note for one unresolved fixup: its target text and, when it can be
// told, why ("'x' is not defined", "'a - b' cannot be evaluated: integer
// underflow"). `context` is the one the target was evaluated with.
std::string describeUnresolvedFixup(const frontend::fixup::Fixup& fixup,
                                    const frontend::expr::EvaluationContext& context);

}  // namespace assembly
