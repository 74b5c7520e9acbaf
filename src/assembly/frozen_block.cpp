#include "assembly/frozen_block.hpp"

#include <new>
#include <string>
#include <vector>

namespace assembly {

namespace {

using frontend::diagnostic::Note;
using frontend::diagnostic::Severity;

// "failed here" and, when it is known, the cause, both at the statement.
std::vector<Note> statementNotes(const FailedBlock& block, qovrin::Error error) {
  if (!block.statement) return {};
  // The image is all a finalizer sees: the run's files are not at hand.
  const bool file_access = error == qovrin::Error::FileNotAvailable || error == qovrin::Error::IncludeNotAvailable;
  std::vector<Note> notes{{file_access ? "failed here: files cannot be read in a " + std::string(block.keyword) + " block"
                                       : std::string("failed here"),
                           block.statement}};
  if (block.cause != nullptr && *block.cause) notes.push_back({**block.cause, block.statement});
  return notes;
}

}  // namespace

qovrin::Error blockFailure(frontend::module::Module& module, const FailedBlock& block, std::size_t diagnostics_before,
                           qovrin::Error error) {
  auto& diagnostics = module.diagnostics();
  const bool reported = diagnostics.diagnostics().size() != diagnostics_before;
  if (block.location.expansion && !reported) {
    std::vector<Note> notes;
    if (block.cause != nullptr && *block.cause) notes = statementNotes(block, error);
    diagnostics.addWithNotes(Severity::error, block.location, qovrin::errorName(error), notes);
    return qovrin::Error::FrontendDiagnostics;
  }
  if (error == qovrin::Error::FrontendDiagnostics && !reported) return error;
  // Out of memory the notes may not fit either; the failure goes on without them.
  try {
    if (error != qovrin::Error::FrontendDiagnostics)
      for (const Note& note : statementNotes(block, error)) diagnostics.addSingle(Severity::note, *note.location, note.message);
    // After a message the block's statement reported, the macro notes were said.
    const std::string note = "in this " + std::string(block.keyword) + " block";
    if (error == qovrin::Error::FrontendDiagnostics && block.location.expansion)
      diagnostics.addSingle(Severity::note, block.location, note);
    else
      diagnostics.add(Severity::note, block.location, note);
  } catch (const std::bad_alloc&) {
  }
  return error;
}

}  // namespace assembly
