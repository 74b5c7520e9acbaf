#include "lower_test_support.hpp"

#include <gtest/gtest.h>

#include <span>
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

namespace {

void appendHex(std::string& out, std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (const std::uint8_t byte : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
}

// A line settled into a run: its bytes, then the target of each fixup still
// to patch whose field lies among them.
std::string settledLine(const frontend::module::Module& module, std::uint32_t run, std::uint64_t from,
                        std::uint64_t to) {
  std::string out;
  appendHex(out, module.fragments()[run].bytes()->data.view().subspan(from, to - from));
  const auto& fixups = module.fixups();
  for (std::uint32_t index = 0; index < fixups.size(); ++index)
    if (fixups[index].fragment == run && fixups[index].offset >= from && fixups[index].offset < to &&
        !fixups[index].dropped)
      out += " <" + std::string(fixups.target(fixups[index]).text) + ">";
  return out;
}

// Calls visit(entry, instruction) for each line an instruction fragment or a
// run holds, as the listing shows them: the text of an instruction that
// keeps its fragment, a run's line by line. Whether the line still counts
// as an instruction: data lines and lines a store reached do not.
template <typename Visit>
void visitLines(const frontend::module::Module& module, std::uint32_t index, Visit&& visit) {
  const frontend::fragment::Fragment& piece = module.fragments()[index];
  if (const auto* line = piece.instruction()) return visit(std::string(line->text()), true);
  const auto lines = module.linesOf(piece);
  const auto* run = piece.bytes();
  for (std::size_t at = 0; at < lines.size(); ++at) {
    const std::uint64_t end = at + 1 < lines.size() ? lines[at + 1].offset : run->data.size();
    visit(settledLine(module, index, lines[at].offset, end), !lines[at].stored());
  }
}

}  // namespace

std::vector<std::string> instructionLines(const frontend::module::Module& module) {
  std::vector<std::string> out;
  for (std::uint32_t index = 0; index < module.fragments().size(); ++index)
    visitLines(module, index, [&](std::string entry, bool instruction) {
      if (instruction) out.push_back(std::move(entry));
    });
  return out;
}

std::string sectionContent(const frontend::module::Module& module, std::uint32_t section) {
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
    } else if (piece.instruction() != nullptr || !module.linesOf(piece).empty()) {
      visitLines(module, index, [&](const std::string& entry, bool instruction) {
        separate();
        out += instruction ? "[" + entry + "]" : entry;
      });
    } else {
      appendHex(out, piece.bytes()->data.view());
    }
  }
  return out;
}

void expectOutputCases(const std::vector<OutputCase>& cases, const Files& files) {
  for (const OutputCase& test : cases) {
    SCOPED_TRACE(test.source);
    frontend::module::Module module(frontend::target::Target::x86(64));
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
