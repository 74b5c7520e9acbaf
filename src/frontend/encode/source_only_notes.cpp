#include "frontend/encode/source_only_notes.hpp"

#include "common/display_text.hpp"

namespace frontend::pass {

std::optional<std::string> sourceOnlyNote(const module::Module& module, std::string_view name) {
  const module::SourceOnlyDefinition* definition = module.sourceOnlyDefinition(name);
  if (definition == nullptr) return std::nullopt;
  return qovrin::quotedSubject(name) + " is " + (definition->macro ? "a macro" : "a statement function") +
         " of the [include] file " + qovrin::quotedSubject(definition->path) +
         ", and the macros and functions of [include] files do not carry into the source; the source takes them "
         "when it includes the file itself";
}

std::optional<std::string> sourceOnlyLineNote(const module::Module& module, std::string_view line) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  const std::size_t end = line.find_first_of(" \t", start);
  return sourceOnlyNote(module, line.substr(start, end == std::string_view::npos ? end : end - start));
}

}  // namespace frontend::pass
