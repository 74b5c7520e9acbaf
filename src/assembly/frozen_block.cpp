#include "assembly/frozen_block.hpp"

#include <new>
#include <string>

namespace assembly {

namespace {

void addNotes(frontend::diagnostic::DiagnosticStore& diagnostics, const FailedBlock& block, qovrin::Error error) {
  using frontend::diagnostic::Severity;
  if (block.statement) {
    // The image is all a finalizer sees: the run's files are not at hand.
    const bool file_access = error == qovrin::Error::FileNotAvailable || error == qovrin::Error::IncludeNotAvailable;
    diagnostics.addSingle(Severity::note, *block.statement,
                          file_access ? "failed here: files cannot be read in a " + std::string(block.keyword) + " block"
                                      : std::string("failed here"));
    if (block.cause != nullptr && *block.cause) diagnostics.addSingle(Severity::note, *block.statement, **block.cause);
  }
  diagnostics.add(Severity::note, block.location, "in this " + std::string(block.keyword) + " block");
}

}  // namespace

qovrin::Error blockFailure(frontend::module::Module& module, const FailedBlock& block, std::size_t diagnostics_before,
                           qovrin::Error error) {
  using frontend::diagnostic::Severity;
  auto& diagnostics = module.diagnostics();
  if (block.location.expansion && diagnostics.diagnostics().size() == diagnostics_before) {
    diagnostics.add(Severity::error, block.location, qovrin::errorName(error));
    return qovrin::Error::FrontendDiagnostics;
  }
  if (error == qovrin::Error::FrontendDiagnostics) return error;
  // Out of memory the notes may not fit either; the failure goes on without them.
  try {
    addNotes(diagnostics, block, error);
  } catch (const std::bad_alloc&) {
  }
  return error;
}

}  // namespace assembly
