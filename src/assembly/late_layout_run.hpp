#pragma once
// The late-layout blocks, run after the encode phase and before any fixup is
// resolved, so that what they emit is laid out with everything else. The
// write position starts at the end of the module's current section and
// carries over from block to block.

#include "common/error.hpp"
#include "frontend/module/module.hpp"

namespace assembly {

qovrin::Status runLateLayoutBlocks(frontend::module::Module& module);

}  // namespace assembly
