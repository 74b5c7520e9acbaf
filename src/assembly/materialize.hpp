#pragma once
// Materialisation: the output bytes of a laid-out module and one region row
// per section that stores bytes. Sections lie at their file offsets; where
// they overlap, the section laid out later wins; gaps stay zero.

#include <cstdint>

#include "common/error.hpp"
#include "frontend/encode/layout.hpp"
#include "frontend/module/module.hpp"
#include "frontend/output/result.hpp"

namespace assembly {

// Fails with OutputTooLarge past frontend::module::kMaxImageSize (checked
// before anything is allocated, since section file offsets come from source
// text), InvalidSection or
// InvalidFragment for rows that do not match the module, and OffsetOverflow.
qovrin::Result<frontend::output::result::WriterResult> materializeImage(const frontend::module::Module& module,
                                                                        const frontend::layout::ModuleLayout& layout);

}  // namespace assembly
