#include "frontend/syntax/diagnostic.hpp"

#include <algorithm>
#include <limits>
#include <string>

namespace frontend::diagnostic {

using qovrin::Error;

void DiagnosticStore::addSingle(Severity severity, const SourceLocation& location, std::string_view message) {
  diagnostics_.push_back(Diagnostic{std::string(message), location, severity});
}

namespace {

// A runaway recursive macro nests up to the call-depth limit, and every level
// would print the same two lines; a run of identical pairs is cut short here.
constexpr std::uint64_t kRepeatedExpansionsShown = 8;

bool printsAlike(const Expansion& left, const Expansion& right) noexcept {
  return left.invocation == right.invocation && left.definition.span == right.definition.span;
}

}  // namespace

void DiagnosticStore::add(Severity severity, const SourceLocation& location, std::string_view message) {
  addWithNotes(severity, location, message, {});
}

void DiagnosticStore::addWithNotes(Severity severity, const SourceLocation& location, std::string_view message,
                                   std::span<const Note> notes) {
  const std::size_t first = diagnostics_.size();
  addSingle(severity, location, message);
  for (const Note& note : notes) addSingle(Severity::note, note.location.value_or(location), note.message);
  for (Diagnostic& note : expansionNotes(location)) diagnostics_.push_back(std::move(note));
  diagnostics_[first].attached = static_cast<std::uint32_t>(
      std::min<std::size_t>(diagnostics_.size() - first - 1, std::numeric_limits<std::uint32_t>::max()));
}

std::vector<Diagnostic> DiagnosticStore::expansionNotes(const SourceLocation& location) const {
  std::vector<Diagnostic> notes;
  std::optional<std::uint32_t> expansion = location.expansion ? location.expansion : current_;
  const Expansion* previous = nullptr;
  std::uint64_t alike = 0;
  std::uint64_t skipped = 0;
  const auto reportSkipped = [&] {
    if (skipped == 0) return;
    notes.push_back(
        {"... " + std::to_string(skipped) + " more expansions of the same macro", SourceLocation{}, Severity::note});
    skipped = 0;
  };
  // Parents are always older than their children, so the walk ends; the bound
  // check also ends it quietly on a stale index.
  while (expansion && *expansion < expansions_.size()) {
    const Expansion& entry = expansions_[*expansion];
    expansion = entry.parent;
    alike = previous && printsAlike(*previous, entry) ? alike + 1 : 1;
    previous = &entry;
    if (alike > kRepeatedExpansionsShown) {
      ++skipped;
      continue;
    }
    reportSkipped();
    notes.push_back({"macro invoked here", SourceLocation{entry.invocation, entry.parent}, Severity::note});
    notes.push_back({"macro defined here", entry.definition, Severity::note});
  }
  reportSkipped();
  return notes;
}

qovrin::Result<std::uint32_t> DiagnosticStore::beginExpansion(const SourceSpan& invocation,
                                                              const SourceLocation& definition) {
  if (expansions_.size() >= std::numeric_limits<std::uint32_t>::max()) return qovrin::fail(Error::OutOfMemory);
  expansions_.push_back(Expansion{invocation, current_, definition});
  return static_cast<std::uint32_t>(expansions_.size() - 1);
}

bool DiagnosticStore::hasErrors() const noexcept {
  for (const Diagnostic& diagnostic : diagnostics_)
    if (diagnostic.severity == Severity::error) return true;
  return false;
}

}  // namespace frontend::diagnostic
