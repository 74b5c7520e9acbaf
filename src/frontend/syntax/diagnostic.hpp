#pragma once
// The module's messages for the user, plus the record of macro expansions so
// that a message raised inside expanded text leads back to every invocation.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::diagnostic {

enum class Severity : std::uint8_t { note = 0, warning = 1, error = 2 };

struct Diagnostic {
  std::string message;
  SourceLocation location;
  Severity severity = Severity::error;
  // How many of the diagnostics that follow explain this one: its notes and
  // those of the macro expansions it was raised in.
  std::uint32_t attached = 0;
};

// What explains a diagnostic; placed at the diagnostic's own location
// unless it names another.
struct Note {
  std::string message;
  std::optional<SourceLocation> location;
};

struct Expansion {
  SourceSpan invocation;                // the macro call
  std::optional<std::uint32_t> parent;  // expansion current when this one began
  SourceLocation definition;            // the macro's definition
};

class DiagnosticStore {
 public:
  // Appends one diagnostic and nothing else.
  void addSingle(Severity severity, const SourceLocation& location, std::string_view message);

  // Appends the diagnostic followed by "macro invoked here" / "macro defined
  // here" notes for every expansion from the location's own (or the current
  // one) outwards. Of a run of expansions that would print the same two
  // lines, the first 8 are kept and the rest counted in one note.
  void add(Severity severity, const SourceLocation& location, std::string_view message);

  // As add, with notes between the diagnostic and its expansion notes, so
  // that what explains the message stays beside it.
  void addWithNotes(Severity severity, const SourceLocation& location, std::string_view message,
                    std::span<const Note> notes);

  // The "macro invoked here" / "macro defined here" notes that add places
  // after a message at this location, innermost expansion first.
  std::vector<Diagnostic> expansionNotes(const SourceLocation& location) const;

  // Records a new expansion whose parent is the current one; the caller makes
  // the returned index current while it lowers the expansion.
  qovrin::Result<std::uint32_t> beginExpansion(const SourceSpan& invocation, const SourceLocation& definition);

  const std::vector<Diagnostic>& diagnostics() const noexcept { return diagnostics_; }
  // Forgets every diagnostic after the first count.
  void truncate(std::size_t count) noexcept {
    if (count < diagnostics_.size()) diagnostics_.erase(diagnostics_.begin() + static_cast<std::ptrdiff_t>(count), diagnostics_.end());
  }
  const std::vector<Expansion>& expansions() const noexcept { return expansions_; }

  std::optional<std::uint32_t> currentExpansion() const noexcept { return current_; }
  // The location as part of the current expansion, unless it names its own:
  // what is recorded now and reported later still leads back to the macro.
  SourceLocation inCurrentExpansion(SourceLocation location) const noexcept {
    if (!location.expansion) location.expansion = current_;
    return location;
  }
  void setCurrentExpansion(std::optional<std::uint32_t> expansion) noexcept { current_ = expansion; }

  bool hasErrors() const noexcept;

 private:
  std::vector<Diagnostic> diagnostics_;
  std::vector<Expansion> expansions_;
  std::optional<std::uint32_t> current_;
};

}  // namespace frontend::diagnostic
