#pragma once
// `qovrin init`: a starter project (qovrin.toml, src/main.qov,
// include/README.md) for an instruction set, output model and bit width.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/error.hpp"
#include "main/cli.hpp"

namespace qovrin::main {

struct InitOptions {
  std::optional<std::string_view> directory;
  std::optional<std::string_view> name;
  std::string_view isa = "x86-64";
  std::uint16_t bits = 64;
  std::string_view os = "bin";
  std::string_view abi = "none";
  bool force = false;
  // The width a name such as rv64 or x86-64 carries, 0 for a family name
  // (riscv, x86) that takes its width from --bits.
  std::uint16_t named_bits = 0;
  // Options given before a --target that changed their values, as typed
  // ("--os windows"), and the value of that --target.
  std::vector<std::string> replaced_by_target;
  std::string_view replacing_target;
};

enum class InitTemplateKind : std::uint8_t {
  flatX86 = 0,
  flatX86_64 = 1,
  flatRiscv32 = 2,
  flatRiscv64 = 3,
  pe32 = 4,
  pe64 = 5,
  elf32 = 6,
  elf64 = 7,
};

// The init options (arguments after "init"), the usage help, or an issue.
std::variant<InitOptions, HelpCommand, CliParseIssue> parseInitOptions(std::span<const std::string_view> arguments);

InitTemplateKind initTemplateKind(const InitOptions& options) noexcept;
std::string_view initOutputPath(InitTemplateKind kind) noexcept;
std::string starterSource(InitTemplateKind kind);

// What the user must add before the starter builds: the PE and ELF starters
// import a format library that is not shipped.
std::optional<std::string_view> starterNote(InitTemplateKind kind) noexcept;
std::string_view includeGuidanceText() noexcept;

// The project name: --name, else the last component of the directory, else
// of the working directory.
std::string initProjectName(const InitOptions& options, std::string_view workingDir);

std::string projectFileText(std::string_view name, std::string_view outputPath, const InitOptions& options);

// Writes the project; returns the project name for the closing line. On a
// failure that concerns one file or folder, its path goes to failedPath.
Result<std::string> runInitCommand(const InitOptions& options, std::string* failedPath = nullptr);

// The note for a run that failed with error at failedPath: a file that is in
// the way (which --force replaces, unless it was given), a folder where a
// file goes or the other way round, or the path that could not be written.
// The names --isa, --arch and --target take, for the note beside one they do not.
std::string initIsaNamesNote();

// A choice the starter cannot honour as written: --bits against the width an
// ISA name carries, --os windows or linux with RISC-V.
std::optional<std::string> initChoiceNote(const InitOptions& options);

// The options a later --target replaced, which the project does not have.
std::optional<std::string> initReplacedNote(const InitOptions& options);

std::string initFailureNote(const InitOptions& options, const std::string& failedPath, Error error);

}  // namespace qovrin::main
