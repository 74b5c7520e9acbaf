#include "assembly/frozen_block.hpp"

namespace assembly {

qovrin::Error blockFailure(frontend::module::Module& module, const frontend::SourceLocation& block,
                           std::size_t diagnostics_before, qovrin::Error error) {
  auto& diagnostics = module.diagnostics();
  if (!block.expansion || diagnostics.diagnostics().size() > diagnostics_before) return error;
  diagnostics.add(frontend::diagnostic::Severity::error, block, qovrin::errorName(error));
  return qovrin::Error::FrontendDiagnostics;
}

}  // namespace assembly
