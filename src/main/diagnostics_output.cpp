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
                         std::span<const frontend::diagnostic::Diagnostic> diagnostics, WarningCap& cap) {
  const auto& sources = module.sources();
  std::vector<std::optional<SourceLines>> lines(sources.size());
  for (std::size_t index = 0; index < diagnostics.size(); ++index) {
    const auto& diagnostic = diagnostics[index];
    if (diagnostic.severity == frontend::diagnostic::Severity::warning &&
        ++cap.seen[diagnostic.message] > kWarningsShown) {
      const auto counted = std::ranges::find(cap.left_out, diagnostic.message, &std::pair<std::string, std::uint64_t>::first);
      if (counted == cap.left_out.end()) cap.left_out.emplace_back(diagnostic.message, 1);
      else ++counted->second;
      index += std::min<std::size_t>(diagnostic.attached, diagnostics.size() - index - 1);
      continue;
    }
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

Status appendNewDiagnostics(std::string& out, const frontend::module::Module& module, PrintedDiagnostics& printed) {
  const auto& diagnostics = module.diagnostics().diagnostics();
  if (printed.count < diagnostics.size())
    QOVRIN_TRY(appendDiagnostics(out, module, std::span(diagnostics).subspan(static_cast<std::size_t>(printed.count)),
                                 printed.warnings));
  printed.count = std::max<std::uint64_t>(printed.count, diagnostics.size());
  return {};
}

void appendLeftOutWarnings(std::string& out, WarningCap& cap) {
  for (const auto& [message, count] : cap.left_out) {
    out += "note: ... " + std::to_string(count) + " more warning" + (count == 1 ? "" : "s") + " \"";
    appendPrintable(out, message);
    out += "\" left out; each warning is shown " + std::to_string(kWarningsShown) + " times at most\n";
  }
  cap.left_out.clear();
}

}  // namespace qovrin::main
