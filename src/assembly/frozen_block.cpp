#include "assembly/frozen_block.hpp"

#include <string>

namespace assembly {

qovrin::Error blockFailure(frontend::module::Module& module, const FailedBlock& block, std::size_t diagnostics_before,
                           qovrin::Error error) {
  using frontend::diagnostic::Severity;
  auto& diagnostics = module.diagnostics();
  if (block.location.expansion && diagnostics.diagnostics().size() == diagnostics_before) {
    diagnostics.add(Severity::error, block.location, qovrin::errorName(error));
    return qovrin::Error::FrontendDiagnostics;
  }
  if (error == qovrin::Error::FrontendDiagnostics || error == qovrin::Error::OutOfMemory) return error;
  if (block.statement) {
    // The image is all a finalizer sees: the run's files are not at hand.
    const bool file_access = error == qovrin::Error::FileNotAvailable || error == qovrin::Error::IncludeNotAvailable;
    diagnostics.addSingle(Severity::note, *block.statement,
                          file_access ? "failed here: files cannot be read in a " + std::string(block.keyword) + " block"
                                      : std::string("failed here"));
  }
  diagnostics.add(Severity::note, block.location, "in this " + std::string(block.keyword) + " block");
  return error;
}

}  // namespace assembly
