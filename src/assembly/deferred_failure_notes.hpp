#pragma once
// Why a statement of a defer block failed, told beside "failed here": the
// name nothing defines, the value a message cannot show, the place outside
// the image that a load or store reached, the arguments a call takes, the
// integer operation that left the 64-bit range.

#include <optional>
#include <string>

#include "assembly/failing_part.hpp"
#include "common/error.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module/module.hpp"
#include "frontend/output/image.hpp"

namespace assembly::deferred_failure_notes {

// What the notes read of the run a statement failed in: the block's locals,
// the final image, what its expressions evaluate against and the statement's
// call and trees.
struct FailedRun {
  frontend::module::Module& module;
  frontend::lower::context::LowerContext& context;
  const frontend::output::image::Image& image;
  frontend::expr::EvaluationContext evaluation;
  StatementParts parts;
};

// Asked right after the statement failed with `error`, while the block's
// locals are still bound; none when nothing more can be told. Parts of the
// statement are evaluated again; what they report is taken back.
std::optional<std::string> failureCause(const FailedRun& failed, qovrin::Error error);

}  // namespace assembly::deferred_failure_notes
