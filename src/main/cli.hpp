#pragma once
// The command line: which command runs, with which options, and the exact
// texts of help, version and every misuse message.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "frontend/values/target.hpp"

namespace qovrin::main {

inline constexpr std::string_view kVersion = "0.2.21";

enum class ProgressMode : std::uint8_t { automatic = 0, forced = 1, off = 2 };
enum class TimingMode : std::uint8_t { off = 0, timings = 1, tracePhases = 2 };
enum class HelpTopic : std::uint8_t { usage = 0, init = 1, targets = 2 };

// Options of the plain and the build command. The target carries no "given"
// mark here; the build command keeps that apart itself.
struct CliOptions {
  std::optional<std::string_view> sourcePath;
  std::optional<std::string_view> outputPath;
  std::optional<std::string_view> listingPath;
  frontend::target::Target target = frontend::target::Target::x86(64);
  bool targetGiven = false;
  ProgressMode progress = ProgressMode::automatic;
  TimingMode timing = TimingMode::off;
  bool help = false;
  bool version = false;
};

enum class CliIssueKind : std::uint8_t {
  missingSourcePath = 0,
  outputPathMissing = 1,
  listingPathMissing = 2,
  initOptionValueMissing = 3,
  multipleSourcePaths = 4,
  multipleInitDirectories = 5,
  unknownOption = 6,
  unknownHelpTopic = 7,
  invalidTarget = 8,
  invalidInitValue = 9,
  subcommandAfterOptions = 10,
};

struct CliParseIssue {
  CliIssueKind kind;
  std::string_view first;
  std::string_view second;
};

struct HelpCommand {
  HelpTopic topic;
};
struct AssembleCommand {
  CliOptions options;
};
struct BuildCommand {
  CliOptions options;
};
// The init command's own arguments, parsed by the init command itself.
struct InitCommand {
  std::span<const std::string_view> arguments;
};

using Command = std::variant<CliParseIssue, HelpCommand, AssembleCommand, BuildCommand, InitCommand>;

std::optional<frontend::target::Target> parseTarget(std::string_view name) noexcept;
std::string_view targetName(const frontend::target::Target& target) noexcept;

// `arguments` holds the whole argument vector, the program name first; the
// command borrows its texts.
Command parseCommandLine(std::span<const std::string_view> arguments);

std::string_view helpTopicText(HelpTopic topic) noexcept;
// "QOVRIN <version>", a blank line, then the usage text.
std::string helpText();
std::string cliParseIssueLine(const CliParseIssue& issue);

}  // namespace qovrin::main
