#include "frontend/encode/source_only_notes.hpp"

#include <string>

#include "common/ascii.hpp"
#include "common/display_text.hpp"

namespace frontend::pass {

namespace {

std::optional<diagnostic::Note> includedNote(const module::SourceOnlyDefinition& definition) {
  return diagnostic::Note{
      qovrin::quotedSubject(definition.name) + " is " + (definition.macro ? "a macro" : "a statement function") +
          " of the [include] file " + qovrin::quotedSubject(definition.path) +
          ", and the macros and functions of [include] files do not carry into the source; the source takes them "
          "when it includes the file itself",
      std::nullopt};
}

// A definition of the line's own lowering: a function was written as an
// instruction, or a macro was used before the line that defines it.
std::optional<diagnostic::Note> ownNote(const module::SourceOnlyDefinition& definition, std::string_view operands,
                                        const SourceLocation& line) {
  const std::string name = qovrin::quotedSubject(definition.name);
  if (!definition.macro)
    return diagnostic::Note{name + " is a statement function, which is called with '()': write " +
                                qovrin::quotedSubject(definition.name + "(" + std::string(operands) + ")"),
                            std::nullopt};
  const bool later = definition.location.span.source != line.span.source ||
                     definition.location.span.start > line.span.start;
  if (!later) return std::nullopt;
  return diagnostic::Note{name + " is a macro defined here, after the line that uses it: a macro is defined before "
                                 "its use",
                          definition.location};
}

}  // namespace

std::optional<diagnostic::Note> sourceOnlyNote(const module::Module& module, std::string_view name,
                                               const SourceLocation& line) {
  const module::SourceOnlyDefinition* definition = module.sourceOnlyDefinition(name, line);
  if (definition == nullptr || definition->sharedWith(line)) return std::nullopt;
  return includedNote(*definition);
}

std::optional<diagnostic::Note> sourceOnlyLineNote(const module::Module& module, std::string_view text,
                                                   const SourceLocation& line) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  const std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
  const module::SourceOnlyDefinition* definition = module.sourceOnlyDefinition(text.substr(start, end - start), line);
  if (definition == nullptr) return std::nullopt;
  if (!definition->sharedWith(line)) return includedNote(*definition);
  return ownNote(*definition, qovrin::trim(text.substr(end), " \t"), line);
}

}  // namespace frontend::pass
