#pragma once
// Bringing emitted output up to date before lowering reads it: instruction
// fragments get their encoded bytes and sizes, and the write position is
// measured again from the section's fragments.

#include "common/error.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"

namespace frontend::lower::expression_materialization {

// Encodes every instruction fragment so far. Failures that only the encoder
// can cause (an instruction too large, unreadable text, a fixup it cannot
// place) reach the caller as InvalidApiArgument.
qovrin::Status forOutputAccess(module::Module& module);

// forOutputAccess, then the cursor's offset and file cursor follow the true
// sizes of its section.
qovrin::Status syncActiveOutput(module::Module& module, contracts::ActiveOutput& cursor);

}  // namespace frontend::lower::expression_materialization
