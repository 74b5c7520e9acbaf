#pragma once
// Why a statement of a defer block failed, told beside "failed here": the
// name nothing defines, the value a message cannot show, the place outside
// the image that a load or store reached, the arguments a call takes, the
// integer operation that left the 64-bit range.

#include <optional>
#include <string>

#include "assembly/deferred_run.hpp"
#include "common/error.hpp"
#include "frontend/module/frozen_bodies.hpp"

namespace assembly::deferred_failure_notes {

// Asked right after `statement` failed with `error`, while the block's
// locals are still bound; none when nothing more can be told. Parts of the
// statement are evaluated again; what they report is taken back.
std::optional<std::string> failureCause(DeferredRunContext& run,
                                        const frontend::output::contracts::DeferredStatement& statement,
                                        qovrin::Error error);

}  // namespace assembly::deferred_failure_notes
