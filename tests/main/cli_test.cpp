#include "main/cli.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace qovrin::main;

// The parsed command as one line of text, so a table can state it.
std::string describe(std::vector<std::string_view> arguments) {
  arguments.insert(arguments.begin(), "qovrin");
  const Command command = parseCommandLine(arguments);
  if (const auto* issue = std::get_if<CliParseIssue>(&command)) {
    std::string line = cliParseIssueLine(*issue);
    line.pop_back();
    return line;
  }
  if (const auto* help = std::get_if<HelpCommand>(&command))
    return "help " + std::to_string(static_cast<int>(help->topic));
  if (const auto* init = std::get_if<InitCommand>(&command)) return "init " + std::to_string(init->arguments.size());
  const bool build = std::holds_alternative<BuildCommand>(command);
  const CliOptions& options =
      build ? std::get<BuildCommand>(command).options : std::get<AssembleCommand>(command).options;
  std::string text = build ? "build" : "assemble";
  if (options.version) text += " version";
  if (options.sourcePath) text += " src=" + std::string(*options.sourcePath);
  if (options.outputPath) text += " out=" + std::string(*options.outputPath);
  if (options.listingPath) text += " lst=" + std::string(*options.listingPath);
  text += " target=" + std::string(targetName(options.target));
  text += " progress=" + std::to_string(static_cast<int>(options.progress));
  text += " timing=" + std::to_string(static_cast<int>(options.timing));
  return text;
}

TEST(CommandLine, CommandsOptionsAndIssues) {
  struct Case {
    std::vector<std::string_view> arguments;
    std::string expected;
  };
  const Case cases[] = {
      {{}, "error: missing source path"},
      {{"-V"}, "assemble version target=x86-64 progress=0 timing=0"},
      {{"-V", "-h"}, "help 0"},
      {{"-h", "demo.qov", "--bogus"}, "error: unknown option --bogus"},
      {{"demo.qov", "-o", "a.bin", "-o", "b.bin", "--lst", "x.lst", "--target", "rv32"},
       "assemble src=demo.qov out=b.bin lst=x.lst target=rv32 progress=0 timing=0"},
      {{"demo.qov", "--timings", "--trace-phases", "--progress", "--no-progress"},
       "assemble src=demo.qov target=x86-64 progress=2 timing=2"},
      {{"demo.qov", "-o", ""}, "assemble src=demo.qov out= target=x86-64 progress=0 timing=0"},
      {{"demo.qov", "-o"}, "error: -o requires an output path"},
      {{"demo.qov", "-o", "-x"}, "error: -o requires an output path"},
      {{"demo.qov", "--listing"}, "error: --listing requires a .lst output path"},
      {{"demo.qov", "--target"}, "error: invalid target --target"},
      {{"demo.qov", "--target", "X86-64"}, "error: invalid target X86-64"},
      {{"a.qov", "b.qov"}, "error: multiple source paths are not allowed: a.qov and b.qov"},
      {{"demo.qov", "init"}, "error: multiple source paths are not allowed: demo.qov and init"},
      {{"--timings", "build"},
       "error: build subcommand must appear before its options; use `qovrin build [options]`"},
      {{"help"}, "help 0"},
      {{"help", "init"}, "help 1"},
      {{"help", "targets"}, "help 2"},
      {{"help", "targets", "extra"}, "error: unknown help topic extra"},
      {{"help", "nope"}, "error: unknown help topic nope"},
      {{"build", "--help", "--bogus"}, "help 0"},
      {{"build", "-V"}, "error: unknown option -V"},
      {{"build", "--target", "spirv", "app.qov"}, "build src=app.qov target=spv progress=0 timing=0"},
      {{"init", "demo", "--force"}, "init 2"},
  };
  for (const Case& c : cases) EXPECT_EQ(describe(c.arguments), c.expected) << c.expected;
}

TEST(CommandLine, TargetNamesRoundTrip) {
  const std::pair<std::string_view, std::string_view> names[] = {
      {"x86-64", "x86-64"}, {"x86_64", "x86-64"}, {"x64", "x86-64"}, {"x86", "x86"},     {"x86-32", "x86"},
      {"rv64", "rv64"},     {"riscv64", "rv64"},  {"rv32", "rv32"},  {"riscv32", "rv32"}, {"spv", "spv"},
      {"spirv", "spv"}};
  for (const auto& [name, canonical] : names) {
    const auto target = parseTarget(name);
    ASSERT_TRUE(target.has_value()) << name;
    EXPECT_EQ(targetName(*target), canonical) << name;
  }
  EXPECT_FALSE(parseTarget("arm").has_value());
  EXPECT_EQ(targetName(frontend::target::Target::x86(16)), "x86");
}

TEST(CommandLine, HelpTextStartsWithTheVersionAndEndsWithTheNotes) {
  const std::string text = helpText();
  EXPECT_EQ(text.rfind("QOVRIN 0.2.21\n\nUsage:\n  qovrin <source.qov> [options]\n", 0), 0u);
  EXPECT_TRUE(text.ends_with("  - bin, none, and RISC-V init templates remain flat binary starters\n"));
  EXPECT_TRUE(helpTopicText(HelpTopic::targets).starts_with("Targets:\n  x86-64, x86_64, x64  64-bit x86\n"));
  EXPECT_TRUE(helpTopicText(HelpTopic::init).ends_with("  qovrin init hello-linux --isa x86-64 --os linux --abi sysv\n"));
}

}  // namespace
