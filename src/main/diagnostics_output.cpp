#include "main/diagnostics_output.hpp"

#include <algorithm>

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

LineColumn lineColumnAt(std::string_view text, std::uint32_t offset) noexcept {
  const std::size_t limit = std::min<std::size_t>(offset, text.size());
  LineColumn position;
  for (std::size_t index = 0; index < limit; ++index) {
    const char byte = text[index];
    if (byte == '\r') {
      ++position.line;
      position.column = 1;
      if (index + 1 < limit && text[index + 1] == '\n') ++index;
    } else if (byte == '\n') {
      ++position.line;
      position.column = 1;
    } else {
      ++position.column;
    }
  }
  return position;
}

Status appendNewDiagnostics(std::string& out, const frontend::module::Module& module, std::uint64_t& printed) {
  const auto& diagnostics = module.diagnostics().diagnostics();
  const auto& sources = module.sources();
  std::string& text = out;
  for (std::size_t index = printed; index < diagnostics.size(); ++index) {
    const auto& diagnostic = diagnostics[index];
    const auto& span = diagnostic.location.span;
    if (span.source) {
      if (*span.source >= sources.size()) return fail(Error::InvalidSource);
      const auto& source = sources[*span.source];
      const LineColumn position = lineColumnAt(source.text, span.start);
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
