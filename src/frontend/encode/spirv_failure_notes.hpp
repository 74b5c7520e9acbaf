#pragma once
// The notes after a SPIR-V module failed: the line at fault as its source
// wrote it, and what the failure means when the encoder's error alone would
// not tell (an id name no const binds, an id defined twice or never, a
// comment mark that is none here).

#include <vector>

#include "frontend/module/module.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "spirv_encoder/module.hpp"

namespace frontend::pass {

// `failure.at` and the first definition's `at` name fragments of `module`.
std::vector<diagnostic::Note> spirvFailureNotes(const module::Module& module,
                                                const spirv_encoder::module::ModuleFailure& failure);

}  // namespace frontend::pass
