#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/display_text.hpp"
#include "data/config.hpp"
#include "data/toml_parser.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/module/module.hpp"
#include "main/output_files.hpp"
#include "main/platform.hpp"
#include "main/platform_input.hpp"
#include "main/platform_memory.hpp"
#include "main/road.hpp"

namespace qovrin::main {
namespace {

using frontend::target::Target;

constexpr std::string_view kProjectFile = "qovrin.toml";
constexpr std::string_view kDefaultSource = "src/main.qov";

// The project file and the files it lists are read only when they are
// regular files, so a FIFO or a device there can neither block the build nor
// feed it without end; only the root source may be a pipe.
Result<std::string> readListedFile(const std::string& path) { return platform::readRegularFile(path, {}); }

// The project file's text, or nothing when there is none. A link that leads
// nowhere is a project file meant to be there, so it is not taken for none.
Result<std::optional<std::string>> readProjectText() {
  const std::string path(kProjectFile);
  auto text = readListedFile(path);
  if (text) return std::optional<std::string>(std::move(*text));
  if (text.error() == Error::FileNotFound && !platform::namePresent(path).value_or(true))
    return std::optional<std::string>();
  return fail(text.error());
}

using data::config::ConfigNote;

// "qovrin.toml:<line>:<col>: <severity>: <message>"
void writeProjectFileLine(StandardStreams& streams, std::string_view severity, const ConfigNote& note) {
  std::string line(kProjectFile);
  line += ":" + std::to_string(note.at.line) + ":" + std::to_string(note.at.column) + ": ";
  line += severity;
  line += ": ";
  // Keys come from the file and may hold any byte.
  appendPrintable(line, note.message);
  line += "\n";
  streams.err.write(line);
}

// The project file's settings, with the document kept for the places of its
// values; a failure says where in the file it lies when it can.
struct ProjectFile {
  data::config::ProjectConfig config;
  data::toml_parser::Node root;
};

struct ProjectFileFailure {
  Error error;
  std::optional<ConfigNote> why;
};

// Without a project file every setting is its default.
std::expected<ProjectFile, ProjectFileFailure> parseProjectFile(const std::optional<std::string>& text) {
  if (!text) return ProjectFile{};
  data::toml_parser::TextPosition stopped;
  auto document = data::toml_parser::parse(*text, &stopped);
  if (!document) {
    if (document.error() == Error::OutOfMemory) return std::unexpected(ProjectFileFailure{document.error(), {}});
    return std::unexpected(
        ProjectFileFailure{document.error(), ConfigNote{stopped, data::toml_parser::describeFailure(document.error(), *text, stopped)}});
  }
  ConfigNote why;
  auto config = data::config::projectConfigFromToml(document->root, &why);
  if (!config) return std::unexpected(ProjectFileFailure{config.error(), std::move(why)});
  return ProjectFile{std::move(*config), std::move(document->root)};
}

struct IsaRow {
  std::string_view name;
  frontend::target::Isa isa;
  std::uint16_t defaultBits;
};

constexpr IsaRow kIsaRows[] = {
    {"x86-64", frontend::target::Isa::x86, 64},  {"x86_64", frontend::target::Isa::x86, 64},
    {"x64", frontend::target::Isa::x86, 64},     {"x86", frontend::target::Isa::x86, 32},
    {"x86-32", frontend::target::Isa::x86, 32},  {"rv64", frontend::target::Isa::riscv, 64},
    {"riscv64", frontend::target::Isa::riscv, 64}, {"rv32", frontend::target::Isa::riscv, 32},
    {"riscv32", frontend::target::Isa::riscv, 32}};

// A target the command line names explicitly wins, even the default
// x86-64; then [build] target; then [target] isa with its bits. A refused
// choice says which value was refused and where.
std::expected<Target, ProjectFileFailure> chooseTarget(const CliOptions& options, const ProjectFile& project) {
  const data::config::ProjectConfig& config = project.config;
  const auto refuse = [&](Error error, std::string_view table, std::string_view key, std::string message) {
    const auto at = data::config::valuePosition(project.root, table, key);
    return std::unexpected(
        ProjectFileFailure{error, at ? std::optional<ConfigNote>(ConfigNote{*at, std::move(message)}) : std::nullopt});
  };
  if (options.targetGiven) return options.target;
  if (config.target) {
    const auto target = parseTarget(*config.target);
    if (!target)
      return refuse(Error::InvalidBuildConfig, "build", "target",
                    qovrin::quotedSubject(*config.target) + " is no target; the targets are x86-64, x86, rv64, rv32 and spv");
    return *target;
  }
  if (!config.isa) return Target::x86(64);
  for (const IsaRow& row : kIsaRows) {
    if (row.name != *config.isa) continue;
    const std::uint16_t bits = config.bits.value_or(row.defaultBits);
    const bool x86 = row.isa == frontend::target::Isa::x86;
    const bool accepted = bits == 32 || bits == 64 || (x86 && bits == 16);
    if (!accepted)
      return refuse(Error::InvalidModeBits, "target", "bits",
                    "bits = " + std::to_string(bits) + " does not suit isa " + qovrin::quotedSubject(*config.isa) +
                        ", which takes " + (x86 ? "16, 32 or 64" : "32 or 64"));
    if (x86) return Target::x86(bits);
    return Target::riscv(static_cast<std::uint8_t>(bits));
  }
  return refuse(Error::InvalidBuildConfig, "target", "isa",
                qovrin::quotedSubject(*config.isa) +
                    " is no isa; the names are x86-64, x86, rv64 and rv32 (SPIR-V is chosen with [build] target = \"spv\")");
}

frontend::value::Value defineValue(const data::config::ProjectDefine& define) {
  if (const auto* number = std::get_if<std::uint64_t>(&define.value)) return frontend::value::Value::integer(*number);
  if (const auto* flag = std::get_if<bool>(&define.value)) return frontend::value::Value::boolean(*flag);
  return frontend::value::Value::string(std::get<std::string>(define.value));
}

struct LoadedFile {
  std::string path;
  std::string text;
};

// A FIFO, a device or a socket where the project reads a file is refused
// for what it is; the source, which may be a pipe, fails only by its read.
std::string listedFileNote(const std::string& path, Error error) {
  if (error == Error::ReadFailed && platform::isSpecialFile(path))
    return "'" + path + "' is not a regular file";
  return readFailureNote(path);
}

}  // namespace

int runBuildCommand(const CliOptions& options, StandardStreams& streams) {
  const auto topLevelFailure = [&](Error error) { return reportError(streams, "error: ", error); };
  TimingTrace trace;
  trace.start = platform::monotonicNanoseconds();
  const auto projectText = readProjectText();
  if (!projectText) {
    const std::string note = listedFileNote(std::string(kProjectFile), projectText.error());
    return reportError(streams, "error: ", projectText.error(), std::span(&note, 1));
  }
  const bool projectFound = projectText->has_value();
  InputFiles inputs;
  if (projectFound) inputs.record("project file", std::string(kProjectFile));
  // The error line comes first, then where in the file it lies.
  const auto projectFailure = [&](const ProjectFileFailure& failure) {
    const int status = topLevelFailure(failure.error);
    if (failure.why) writeProjectFileLine(streams, "note", *failure.why);
    (void)streams.err.flush();
    return status;
  };
  const auto parsed = parseProjectFile(*projectText);
  if (!parsed) return projectFailure(parsed.error());
  const data::config::ProjectConfig& config = parsed->config;
  const auto target = chooseTarget(options, *parsed);
  if (!target) return projectFailure(target.error());
  for (const ConfigNote& unknown : data::config::unknownKeys(parsed->root))
    writeProjectFileLine(streams, "warning", unknown);
  const bool defaultSource = !options.sourcePath && !config.source;
  const std::string sourcePath(options.sourcePath ? std::string(*options.sourcePath)
                                                  : config.source.value_or(std::string(kDefaultSource)));

  RunDisplay display("qovrin build", options.progress, streams);
  std::vector<LoadedFile> files;
  const auto readStep = [&](std::string_view node, std::string_view role, const std::string& path,
                            Result<std::string> (*reader)(const std::string&)) -> Status {
    const auto id = display.start(node);
    const std::int64_t start = platform::monotonicNanoseconds();
    auto text = reader(path);
    display.end(id);
    if (!text) return fail(text.error());
    trace.add(TimingTag::readSource, platform::monotonicNanoseconds() - start);
    inputs.record(role, path);
    files.push_back({path, std::move(*text)});
    return {};
  };
  // Only a source named on the command line may be a pipe; the project's
  // own source is read as the files it lists are.
  const bool sourceGiven = options.sourcePath.has_value();
  const auto readFailure = [&](const std::string& path, Error error, bool isSource) {
    std::vector<std::string> notes{isSource && sourceGiven ? readFailureNote(path) : listedFileNote(path, error)};
    // Run outside a project, "build" still looks for the default source.
    if (isSource && defaultSource && !projectFound)
      notes.push_back("no " + std::string(kProjectFile) + " in the working directory, so the source is the default '" +
                      std::string(kDefaultSource) + "'");
    return failRun(streams, display, "error: ", error, notes);
  };
  for (const std::string& include : config.includeFiles)
    if (auto read = readStep("read include", "input", include, readListedFile); !read)
      return readFailure(include, read.error(), false);
  if (auto read = readStep("read source", "source", sourcePath, sourceGiven ? readSourceFile : readListedFile); !read)
    return readFailure(sourcePath, read.error(), true);

  constexpr std::string_view kFailed = "error: build failed: ";
  const auto assembleNode = display.start("assemble flat");
  auto module = std::make_unique<frontend::module::Module>(*target);
  module->setReservesForLines(!platform::addressSpaceLeft());
  for (const auto& define : config.defines) {
    const Status defined = module->defineValue(define.name, defineValue(define), false, {});
    if (!defined) return failRun(streams, display, kFailed, defined.error());
  }
  const auto roots = buildIncludeRoots();
  if (!roots) {
    const auto why = platform::currentDirectoryFailure();
    return failRun(streams, display, kFailed, why.error, std::span(&why.cause, 1));
  }

  for (LoadedFile& file : files) {
    const auto identity = canonicalFileIdentity(file.path);
    const std::int64_t start = platform::monotonicNanoseconds();
    const Status lowered = frontend::lower::root::lowerSourceIntoModuleWithPathOptions(
        *module, file.path, std::move(file.text), pathOptionsFor(*roots, identity, inputs));
    trace.add(TimingTag::parseLower, platform::monotonicNanoseconds() - start);
    if (lowered) continue;
    if (!module->diagnostics().hasErrors()) return failLowering(streams, display, kFailed, lowered.error(), *module);
    break;
  }

  auto assembled = assembleModuleFlatChecked(std::move(module), streams.err, trace);
  if (!assembled) return failRun(streams, display, kFailed, assembled.error());
  display.end(assembleNode);

  RunOutputs outputs{sourcePath, "", std::nullopt, options.timing, "build"};
  outputs.outputPath = options.outputPath ? std::string(*options.outputPath) : config.output.value_or("build/app.bin");
  if (options.listingPath) outputs.listingPath = std::string(*options.listingPath);
  return finishAssembledRun(outputs, inputs, *assembled, streams, display, trace);
}

}  // namespace qovrin::main
