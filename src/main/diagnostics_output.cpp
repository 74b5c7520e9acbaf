#include "main/diagnostics_output.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/display_text.hpp"

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

Status appendDiagnostics(std::string& out, const frontend::module::Module& module,
                         std::span<const frontend::diagnostic::Diagnostic> diagnostics) {
  const auto& sources = module.sources();
  std::vector<std::optional<SourceLines>> lines(sources.size());
  for (const auto& diagnostic : diagnostics) {
    const auto& span = diagnostic.location.span;
    if (span.source) {
      if (*span.source >= sources.size()) return fail(Error::InvalidSource);
      const auto& source = sources[*span.source];
      auto& source_lines = lines[*span.source];
      if (!source_lines) source_lines.emplace(source.text);
      const LineColumn position = source_lines->at(span.start);
      appendPrintable(out, source.path);
      out += ':';
      out += std::to_string(position.line);
      out += ':';
      out += std::to_string(position.column);
      out += ": ";
    }
    out += severityWord(diagnostic.severity);
    out += ": ";
    appendPrintable(out, diagnostic.message);
    out += '\n';
  }
  return {};
}

Status appendNewDiagnostics(std::string& out, const frontend::module::Module& module, std::uint64_t& printed) {
  const auto& diagnostics = module.diagnostics().diagnostics();
  if (printed < diagnostics.size())
    QOVRIN_TRY(appendDiagnostics(out, module, std::span(diagnostics).subspan(static_cast<std::size_t>(printed))));
  printed = std::max<std::uint64_t>(printed, diagnostics.size());
  return {};
}

}  // namespace qovrin::main
