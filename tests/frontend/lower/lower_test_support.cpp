#include "lower_test_support.hpp"

#include <gtest/gtest.h>

#include <variant>

#include "frontend/lower/root.hpp"

namespace lower_test {

namespace contracts = frontend::lower::contracts;
using qovrin::Error;

frontend::lower::contracts::PathOptions pathOptions(Files& files) {
  contracts::PathOptions options;
  options.files_available = files.available;
  options.resolve_file_include =
      [&files](const contracts::IncludeRequest& request) -> qovrin::Result<contracts::IncludeSource> {
    files.requested.emplace_back(request.name);
    files.limits.push_back(request.limit);
    const auto found = files.texts.find(request.name);
    if (found == files.texts.end()) return qovrin::fail(Error::IncludeNotAvailable);
    std::string text = request.contents ? found->second : std::string();
    if (const auto window = request.window) {
      if (window->offset > text.size() || window->length > text.size() - window->offset)
        return qovrin::fail(Error::InvalidApiInteger);
      text = text.substr(window->offset, window->length);
    }
    if (text.size() > request.limit) return qovrin::fail(Error::OutputTooLarge);
    return contracts::IncludeSource{found->first, std::nullopt, std::move(text)};
  };
  options.is_file_include_directory = [](const contracts::IncludeRequest& request) -> qovrin::Result<bool> {
    if (request.name == "broken") return qovrin::fail(Error::AccessDenied);
    return request.name == "dir";
  };
  return options;
}

namespace {

std::string describe(const frontend::module::Module& module, const frontend::diagnostic::Diagnostic& diagnostic,
                     bool with_severity = false) {
  static constexpr const char* kSeverities[] = {"note: ", "warning: ", "error: "};
  const auto& span = diagnostic.location.span;
  if (!span.source) return diagnostic.message;
  const auto& source = module.sources()[*span.source];
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t index = 0; index < span.start && index < source.text.size(); ++index)
    if (source.text[index] == '\n') {
      ++line;
      line_start = index + 1;
    }
  return source.path + ":" + std::to_string(line) + ":" + std::to_string(span.start - line_start + 1) + ": " +
         (with_severity ? kSeverities[static_cast<int>(diagnostic.severity)] : "") + diagnostic.message;
}

}  // namespace

Lowered lower(frontend::module::Module& module, std::string_view text, Files& files) {
  Lowered lowered{
      frontend::lower::root::lowerSourceIntoModuleWithPathOptions(module, "main.qov", std::string(text), pathOptions(files)), {}};
  for (const auto& diagnostic : module.diagnostics().diagnostics())
    if (diagnostic.severity == frontend::diagnostic::Severity::error)
      lowered.diagnostics.push_back(describe(module, diagnostic));
  return lowered;
}

Lowered lower(frontend::module::Module& module, std::string_view text) {
  Files files;
  return lower(module, text, files);
}

std::optional<std::uint64_t> integerValue(const frontend::module::Module& module, std::string_view name) {
  const auto* symbol = module.findSymbol(name);
  if (symbol == nullptr || symbol->value() == nullptr) return std::nullopt;
  const auto* integer = symbol->value()->value.asInteger();
  if (integer == nullptr) return std::nullopt;
  return integer->word;
}

void expectCases(const std::vector<Case>& cases, const Files& files) {
  for (const Case& test : cases) {
    SCOPED_TRACE(test.source);
    frontend::module::Module module(frontend::target::Target::x86(64));
    Files copy = files;
    const Lowered lowered = lower(module, test.source, copy);
    EXPECT_EQ(lowered.diagnostics, test.diagnostics);
    EXPECT_EQ(lowered.status.has_value(), test.diagnostics.empty());
    for (const auto& [name, word] : test.values) EXPECT_EQ(integerValue(module, name), word) << name;
  }
}

std::vector<std::string> allDiagnostics(const frontend::module::Module& module) {
  std::vector<std::string> out;
  for (const auto& diagnostic : module.diagnostics().diagnostics()) out.push_back(describe(module, diagnostic, true));
  return out;
}

std::string sectionContent(const frontend::module::Module& module, std::uint32_t section) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  const auto separate = [&out] {
    if (!out.empty()) out += ' ';
  };
  for (const std::uint32_t index : module.sections()[section].fragments) {
    const frontend::fragment::Fragment& piece = module.fragments()[index];
    if (const auto* reserve = piece.reserve()) {
      separate();
      out += "r" + std::to_string(reserve->size);
    } else if (const auto* alignment = piece.alignment()) {
      separate();
      out += "a" + std::to_string(alignment->alignment) + "/" + std::to_string(alignment->fill);
    } else if (const auto* line = piece.instruction()) {
      separate();
      out += "[";
      out += line->text();
      out += "]";
    } else {
      for (const std::uint8_t byte : piece.bytes()->data) {
        separate();
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
      }
    }
  }
  return out;
}

void expectOutputCases(const std::vector<OutputCase>& cases, const Files& files) {
  for (const OutputCase& test : cases) {
    SCOPED_TRACE(test.source);
    frontend::module::Module module(frontend::target::Target::x86(64));
    module.setJoinsSettledInstructions(false);
    Files copy = files;
    const auto lowered = lower(module, test.source, copy);
    EXPECT_EQ(lowered.status.has_value(), test.succeeds);
    EXPECT_EQ(allDiagnostics(module), test.diagnostics);
    if (test.succeeds) {
      EXPECT_EQ(sectionContent(module, module.currentSection()), test.content);
    }
  }
}

}  // namespace lower_test
