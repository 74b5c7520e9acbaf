#include "main/cli.hpp"

namespace qovrin::main {
namespace {

using frontend::target::Isa;
using frontend::target::Target;

constexpr std::string_view kUsageText =
    "Usage:\n"
    "  qovrin <source.qov> [options]\n"
    "  qovrin build [source.qov] [options]\n"
    "  qovrin init [dir] [--target <target>] [--name <name>] [--force]\n"
    "  qovrin init [dir] [--isa <isa>] [--bits <32|64>] [--os <os>] [--abi <abi>]\n"
    "  qovrin help [init|targets]\n"
    "\n"
    "Options:\n"
    "  -h, --help        Show this help text\n"
    "  -V, --version     Show the QOVRIN version\n"
    "  -o <path>         Write assembled output bytes to the given file\n"
    "  --listing <path>  Write a source/bytes listing file\n"
    "  --lst <path>      Alias for --listing\n"
    "  --target <target> Select x86-64, x86, rv64, rv32, or spv\n"
    "  --timings         Print assembly timing summary\n"
    "  --trace-phases    Print timing summary plus per-phase timings\n"
    "  --isa, --arch     Set init template ISA without changing OS/ABI\n"
    "  --bits, --bit     Set init template bit width: 32 or 64\n"
    "  --os              Select init output model: bin, windows, or linux\n"
    "  --abi             Set init template ABI field\n"
    "  --progress        Force terminal progress while assembling\n"
    "  --no-progress     Disable terminal progress\n"
    "\n"
    "Examples:\n"
    "  qovrin demo.qov\n"
    "  qovrin demo.qov -o demo.bin\n"
    "  qovrin demo.qov --target rv64 -o demo.bin\n"
    "  qovrin build\n"
    "  qovrin init demo --target x86-64\n"
    "  qovrin init hello-win --isa x86-64 --os windows --abi msvc\n"
    "  qovrin init hello-linux --isa x86-64 --os linux --abi sysv\n"
    "  qovrin help init\n"
    "  qovrin help targets\n"
    "\n"
    "Notes:\n"
    "  - Subcommands come first: use `qovrin build --timings`, not `qovrin --timings build`\n"
    "  - build uses the source and output path from qovrin.toml\n"
    "  - x86 Windows/Linux init templates use import(\"format/format.inc\")\n"
    "  - bin, none, and RISC-V init templates remain flat binary starters\n";

constexpr std::string_view kInitText =
    "Create a project:\n"
    "  qovrin init [dir] [--target <target>] [--name <name>] [--force]\n"
    "  qovrin init [dir] [--isa <isa>] [--bits <32|64>] [--os <os>] [--abi <abi>]\n"
    "\n"
    "Template selection:\n"
    "  x86 + --os windows   PE32/PE64 executable, output build/app.exe\n"
    "  x86 + --os linux     ELF32/ELF64 executable, output build/app\n"
    "  --os bin or none     Flat binary source, output build/app.bin\n"
    "  RISC-V               Flat binary source, output build/app.bin\n"
    "\n"
    "Generated project:\n"
    "  qovrin.toml           Source, output, and target defaults\n"
    "  src/main.qov          Buildable starter source\n"
    "  include/README.md     Project include guidance\n"
    "\n"
    "Format layers:\n"
    "  Executable starters import format/format.inc for the ordinary facade.\n"
    "  Advanced sources may explicitly import a format-specific include.\n"
    "\n"
    "Examples:\n"
    "  qovrin init demo --target x86-64\n"
    "  qovrin init hello-win --isa x86-64 --os windows --abi msvc\n"
    "  qovrin init hello-linux --isa x86-64 --os linux --abi sysv\n";

constexpr std::string_view kTargetsText =
    "Targets:\n"
    "  x86-64, x86_64, x64  64-bit x86\n"
    "  x86, x86-32          32-bit x86\n"
    "  rv64, riscv64        64-bit RISC-V\n"
    "  rv32, riscv32        32-bit RISC-V\n"
    "  spv, spirv           SPIR-V 1.6 module\n"
    "\n"
    "Init template selection:\n"
    "  x86 + --os windows   PE32/PE64 executable through format/format.inc\n"
    "  x86 + --os linux     ELF32/ELF64 executable through format/format.inc\n"
    "  --os bin or none     Flat binary source\n"
    "  RISC-V               Flat binary source\n"
    "\n"
    "Format layers:\n"
    "  ordinary users       import(\"format/format.inc\")\n"
    "  advanced users       explicitly import a format-specific include\n";

bool isOptionLike(std::string_view argument) noexcept { return !argument.empty() && argument.front() == '-'; }

// How one option of the plain or build command changed the options, or the
// issue it raised; `index` moves past a consumed value.
enum class OptionOutcome { taken, notAnOption, issue };

OptionOutcome parseSharedOption(std::span<const std::string_view> arguments, std::size_t& index, CliOptions& options,
                                CliParseIssue& issue) {
  const std::string_view argument = arguments[index];
  const bool hasNext = index + 1 < arguments.size();
  const auto takeValue = [&](CliIssueKind missing, std::optional<std::string_view>& field) {
    if (!hasNext || isOptionLike(arguments[index + 1])) {
      issue = {missing, {}, {}};
      return OptionOutcome::issue;
    }
    field = arguments[++index];
    return OptionOutcome::taken;
  };
  if (argument == "--progress") {
    options.progress = ProgressMode::forced;
  } else if (argument == "--no-progress") {
    options.progress = ProgressMode::off;
  } else if (argument == "--timings") {
    options.timing = TimingMode::timings;
  } else if (argument == "--trace-phases") {
    options.timing = TimingMode::tracePhases;
  } else if (argument == "-o") {
    return takeValue(CliIssueKind::outputPathMissing, options.outputPath);
  } else if (argument == "--listing" || argument == "--lst") {
    return takeValue(CliIssueKind::listingPathMissing, options.listingPath);
  } else if (argument == "--target") {
    if (!hasNext) {
      issue = {CliIssueKind::invalidTarget, argument, {}};
      return OptionOutcome::issue;
    }
    const std::string_view name = arguments[++index];
    const auto target = parseTarget(name);
    if (!target) {
      issue = {CliIssueKind::invalidTarget, name, {}};
      return OptionOutcome::issue;
    }
    options.target = *target;
    options.targetGiven = true;
  } else {
    return OptionOutcome::notAnOption;
  }
  return OptionOutcome::taken;
}

// The plain command (from argument 1) and the build command (from argument 2)
// share their options; they differ in help, version and the "build" check.
Command parseOptions(std::span<const std::string_view> arguments, bool buildCommand) {
  CliOptions options;
  for (std::size_t index = buildCommand ? 2 : 1; index < arguments.size(); ++index) {
    const std::string_view argument = arguments[index];
    if (argument == "-h" || argument == "--help") {
      if (buildCommand) return HelpCommand{HelpTopic::usage};
      options.help = true;
      continue;
    }
    if (!buildCommand && (argument == "-V" || argument == "--version")) {
      options.version = true;
      continue;
    }
    CliParseIssue issue{};
    switch (parseSharedOption(arguments, index, options, issue)) {
      case OptionOutcome::taken:
        continue;
      case OptionOutcome::issue:
        return issue;
      case OptionOutcome::notAnOption:
        break;
    }
    if (!buildCommand && argument == "build")
      return CliParseIssue{CliIssueKind::subcommandAfterOptions, argument, argument};
    if (isOptionLike(argument)) return CliParseIssue{CliIssueKind::unknownOption, argument, {}};
    if (options.sourcePath) return CliParseIssue{CliIssueKind::multipleSourcePaths, *options.sourcePath, argument};
    options.sourcePath = argument;
  }
  if (buildCommand) return BuildCommand{options};
  if (options.help) return HelpCommand{HelpTopic::usage};
  if (!options.version && !options.sourcePath) return CliParseIssue{CliIssueKind::missingSourcePath, {}, {}};
  return AssembleCommand{options};
}

Command parseHelpCommand(std::span<const std::string_view> arguments) {
  if (arguments.size() == 2) return HelpCommand{HelpTopic::usage};
  if (arguments.size() > 3) return CliParseIssue{CliIssueKind::unknownHelpTopic, arguments[3], {}};
  const std::string_view topic = arguments[2];
  if (topic == "init") return HelpCommand{HelpTopic::init};
  if (topic == "targets") return HelpCommand{HelpTopic::targets};
  return CliParseIssue{CliIssueKind::unknownHelpTopic, topic, {}};
}

}  // namespace

std::optional<Target> parseTarget(std::string_view name) noexcept {
  if (name == "x86-64" || name == "x86_64" || name == "x64") return Target::x86(64);
  if (name == "x86" || name == "x86-32") return Target::x86(32);
  if (name == "rv64" || name == "riscv64") return Target::riscv(64);
  if (name == "rv32" || name == "riscv32") return Target::riscv(32);
  if (name == "spv" || name == "spirv") return Target::spirv();
  return std::nullopt;
}

std::string_view targetName(const Target& target) noexcept {
  switch (target.isa) {
    case Isa::x86:
      return target.parameter == 64 ? "x86-64" : "x86";
    case Isa::riscv:
      return target.parameter == 64 ? "rv64" : "rv32";
    case Isa::spirv:
      break;
  }
  return "spv";
}

Command parseCommandLine(std::span<const std::string_view> arguments) {
  if (arguments.size() < 2) return CliParseIssue{CliIssueKind::missingSourcePath, {}, {}};
  const std::string_view command = arguments[1];
  if (command == "help") return parseHelpCommand(arguments);
  if (command == "init") return InitCommand{arguments.subspan(2)};
  if (command == "build") return parseOptions(arguments, true);
  return parseOptions(arguments, false);
}

std::string_view helpTopicText(HelpTopic topic) noexcept {
  switch (topic) {
    case HelpTopic::init:
      return kInitText;
    case HelpTopic::targets:
      return kTargetsText;
    case HelpTopic::usage:
      break;
  }
  return kUsageText;
}

std::string helpText() {
  std::string text = "QOVRIN ";
  text += kVersion;
  text += "\n\n";
  text += kUsageText;
  return text;
}

std::string cliParseIssueLine(const CliParseIssue& issue) {
  std::string line;
  const auto join = [&](std::string_view head, std::string_view first, std::string_view middle = {},
                        std::string_view second = {}) {
    line.append(head).append(first).append(middle).append(second);
  };
  switch (issue.kind) {
    case CliIssueKind::missingSourcePath:
      join("error: missing source path", {});
      break;
    case CliIssueKind::outputPathMissing:
      join("error: -o requires an output path", {});
      break;
    case CliIssueKind::listingPathMissing:
      join("error: --listing requires a .lst output path", {});
      break;
    case CliIssueKind::initOptionValueMissing:
      join("error: init option ", issue.first, " requires a value");
      break;
    case CliIssueKind::multipleSourcePaths:
      join("error: multiple source paths are not allowed: ", issue.first, " and ", issue.second);
      break;
    case CliIssueKind::multipleInitDirectories:
      join("error: multiple init directories are not allowed: ", issue.first, " and ", issue.second);
      break;
    case CliIssueKind::unknownOption:
      join("error: unknown option ", issue.first);
      break;
    case CliIssueKind::unknownHelpTopic:
      join("error: unknown help topic ", issue.first);
      break;
    case CliIssueKind::invalidTarget:
      join("error: invalid target ", issue.first);
      break;
    case CliIssueKind::invalidInitValue:
      join("error: invalid init value for ", issue.first, ": ", issue.second);
      break;
    case CliIssueKind::subcommandAfterOptions:
      join("error: ", issue.first, " subcommand must appear before its options; use `qovrin ", issue.second);
      line += " [options]`";
      break;
  }
  line += '\n';
  return line;
}

}  // namespace qovrin::main
