#include "main/diagnostics_output.hpp"

#include <algorithm>
#include <optional>
#include <vector>

namespace qovrin::main {
namespace {

std::string_view severityWord(frontend::diagnostic::Severity severity) noexcept {
  switch (severity) {
    case frontend::diagnostic::Severity::note:
      return "note";
    case frontend::diagnostic::Severity::warning:
      return "warning";
    case frontend::diagnostic::Severity::error:
      break;
  }
  return "error";
}

}  // namespace

Status appendNewDiagnostics(std::string& out, const frontend::module::Module& module, std::uint64_t& printed) {
  const auto& diagnostics = module.diagnostics().diagnostics();
  const auto& sources = module.sources();
  std::string& text = out;
  std::vector<std::optional<SourceLines>> lines(sources.size());
  for (std::size_t index = printed; index < diagnostics.size(); ++index) {
    const auto& diagnostic = diagnostics[index];
    const auto& span = diagnostic.location.span;
    if (span.source) {
      if (*span.source >= sources.size()) return fail(Error::InvalidSource);
      const auto& source = sources[*span.source];
      auto& source_lines = lines[*span.source];
      if (!source_lines) source_lines.emplace(source.text);
      const LineColumn position = source_lines->at(span.start);
      text += source.path;
      text += ':';
      text += std::to_string(position.line);
      text += ':';
      text += std::to_string(position.column);
      text += ": ";
    }
    text += severityWord(diagnostic.severity);
    text += ": ";
    text += diagnostic.message;
    text += '\n';
  }
  printed = std::max<std::uint64_t>(printed, diagnostics.size());
  return {};
}

}  // namespace qovrin::main
