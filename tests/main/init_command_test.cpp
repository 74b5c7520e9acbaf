#include "main/init_command.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "temp_tree.hpp"

namespace {

namespace fs = std::filesystem;
using namespace qovrin::main;

std::string describe(std::vector<std::string_view> arguments) {
  const auto parsed = parseInitOptions(arguments);
  if (const auto* issue = std::get_if<CliParseIssue>(&parsed)) {
    std::string line = cliParseIssueLine(*issue);
    line.pop_back();
    return line;
  }
  if (std::holds_alternative<HelpCommand>(parsed)) return "help";
  const InitOptions& options = std::get<InitOptions>(parsed);
  std::string text = "dir=" + std::string(options.directory.value_or("-")) + " name=" +
                     std::string(options.name.value_or("-")) + " " + std::string(options.isa) + "/" +
                     std::to_string(options.bits) + " os=" + std::string(options.os) + " abi=" +
                     std::string(options.abi) + " kind=" + std::to_string(static_cast<int>(initTemplateKind(options)));
  if (options.force) text += " force";
  return text;
}

TEST(InitOptions, ParsedInCommandLineOrder) {
  const std::pair<std::vector<std::string_view>, std::string_view> cases[] = {
      {{"demo"}, "dir=demo name=- x86-64/64 os=bin abi=none kind=1"},
      {{"hello-win", "--isa", "x86", "--os", "windows"}, "dir=hello-win name=- x86/32 os=windows abi=none kind=4"},
      {{"--os", "windows", "--target", "x86"}, "dir=- name=- x86/32 os=bin abi=none kind=0"},
      {{"--target", "x86", "--os", "windows"}, "dir=- name=- x86/32 os=windows abi=none kind=4"},
      {{"--target", "rv64", "--bits", "32"}, "dir=- name=- riscv32/32 os=none abi=none kind=2"},
      {{"--isa", "riscv", "--bits", "32"}, "dir=- name=- riscv32/32 os=bin abi=none kind=2"},
      {{"--bits", "32", "--arch", "riscv"}, "dir=- name=- riscv64/64 os=bin abi=none kind=3"},
      {{"x", "--os", "linux", "--isa", "riscv64"}, "dir=x name=- riscv64/64 os=linux abi=none kind=3"},
      {{"--os", "linux", "--abi", "sysv", "--force"}, "dir=- name=- x86-64/64 os=linux abi=sysv kind=7 force"},
      {{"--name", "-x", "--dir", "d"}, "dir=d name=-x x86-64/64 os=bin abi=none kind=1"},
      {{"--help", "--bogus"}, "help"},
      {{"--name", "."}, "error: invalid init value for --name: ."},
      {{"--name", "my.app"}, "error: invalid init value for --name: my.app"},
      {{"--name", "--force"}, "error: init option --name requires a value"},
      {{"--os"}, "error: init option --os requires a value"},
      {{"--os", "win dows"}, "error: invalid init value for --os: win dows"},
      {{"--target", "spv"}, "error: invalid target spv"},
      {{"--bits", "16"}, "error: invalid init value for --bits: 16"},
      {{"a", "b"}, "error: multiple init directories are not allowed: a and b"},
      {{"a", "--dir", "b"}, "error: multiple init directories are not allowed: a and b"},
      {{"-q"}, "error: unknown option -q"},
  };
  for (const auto& [arguments, expected] : cases) EXPECT_EQ(describe(arguments), expected);
}

// text with each word, in order, replaced at its first place after the
// word before it.
std::string twin(std::string text, std::initializer_list<std::pair<std::string_view, std::string_view>> words) {
  std::size_t at = 0;
  for (const auto& [from, to] : words) {
    at = text.find(from, at);
    if (at == std::string::npos) return "no " + std::string(from);
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

// The starter sources, written out whole, and their sizes; the 64-bit
// starter of each kind differs from the 32-bit one in a few words.
TEST(InitOptions, StarterTextsAreTheseExactTexts) {
  const std::string thirty_two[] = {
      R"(// Flat x86 binary starter.
// Use --os windows or --os linux with qovrin init for an executable
// template built through the ordinary format facade.

x86.use32();
origin(0);

start:
    mov eax, 1
    ret
)",
      R"(// Flat RISC-V 32-bit binary starter.
// Standard executable facade templates currently target x86.

riscv.use32();
origin(0);

start:
    addi x1, x0, 1
)",
      R"(// PE32 console executable using the ordinary format facade.
import("format/format.inc");
x86.use32();

let image: map = format_pe32(
    format_pe_exe | format_pe_console | format_pe_nx | format_pe_aslr_auto,
    list.of(
        format_section(".text", format_code | format_readable | format_executable)
    )
)
format_begin(image);

format_section_begin(image, ".text");
start:
    xor eax, eax
    ret
format_section_end(image, ".text");

format_entry_mut(image, start)
format_finish(image);
)",
      R"(// ELF32 executable using the ordinary format facade.
import("format/format.inc");
x86.use32();

let image: map = format_elf32(
    format_elf_exec,
    list.of(
        format_segment(".text", format_load | format_readable | format_executable)
    )
)
format_begin(image);

format_segment_begin(image, ".text");
start:
    mov eax, 1
    xor ebx, ebx
    int 0x80
format_segment_end(image, ".text");

format_entry_mut(image, start)
format_finish(image);
)",
  };
  const std::string texts[] = {
      thirty_two[0],
      twin(thirty_two[0], {{"x86", "x86-64"}, {"x86.use32", "x86.use64"}, {"mov eax", "mov rax"}}),
      thirty_two[1],
      twin(thirty_two[1], {{"32-bit", "64-bit"}, {"riscv.use32", "riscv.use64"}}),
      thirty_two[2],
      twin(thirty_two[2], {{"PE32", "PE64"}, {"x86.use32", "x86.use64"}, {"format_pe32(", "format_pe64("}}),
      thirty_two[3],
      twin(thirty_two[3], {{"ELF32", "ELF64"},
                           {"x86.use32", "x86.use64"},
                           {"format_elf32(", "format_elf64("},
                           {"    mov eax, 1\n    xor ebx, ebx\n    int 0x80\n", "    mov eax, 60\n    xor edi, edi\n    syscall\n"}}),
  };
  const std::size_t sizes[] = {207, 210, 154, 154, 496, 496, 455, 455};
  for (int kind = 0; kind < 8; ++kind) {
    EXPECT_EQ(starterSource(static_cast<InitTemplateKind>(kind)), texts[kind]) << kind;
    EXPECT_EQ(texts[kind].size(), sizes[kind]) << kind;
  }
  EXPECT_EQ(includeGuidanceText().size(), 407u);
}

TEST(InitOptions, ProjectNames) {
  InitOptions options;
  EXPECT_EQ(initProjectName(options, "/home/u/proj"), "proj");
  EXPECT_EQ(initProjectName(options, "/"), "");
  options.directory = "out/web/";
  EXPECT_EQ(initProjectName(options, "/ignored"), "web");
  options.name = "given";
  EXPECT_EQ(initProjectName(options, "/ignored"), "given");
}

using InitCommand = qovrin_test::TempTree;

TEST_F(InitCommand, WritesTheProjectOnceAndRewritesOnlyWithForce) {
  InitOptions options;
  options.directory = "demo";
  ASSERT_EQ(runInitCommand(options).value(), "demo");
  EXPECT_EQ(slurp("demo/qovrin.toml"),
            "[project]\nname = \"demo\"\nversion = \"0.1.0\"\n\n[build]\nsource = \"src/main.qov\"\n"
            "output = \"build/app.bin\"\n\n[target]\nisa = \"x86-64\"\nbits = 64\nos = \"bin\"\nabi = \"none\"\n");
  EXPECT_EQ(slurp("demo/src/main.qov"), starterSource(InitTemplateKind::flatX86_64));
  EXPECT_EQ(slurp("demo/include/README.md"), includeGuidanceText());

  put("demo/src/main.qov", "mine");
  EXPECT_EQ(runInitCommand(options).error(), qovrin::Error::PathAlreadyExists);
  EXPECT_EQ(slurp("demo/src/main.qov"), "mine");

  // A refused run writes none of the files, not even the ones that are missing.
  fs::remove("demo/qovrin.toml");
  std::string failedPath;
  EXPECT_EQ(runInitCommand(options, &failedPath).error(), qovrin::Error::PathAlreadyExists);
  EXPECT_EQ(failedPath, "demo/src/main.qov");
  EXPECT_FALSE(fs::exists("demo/qovrin.toml"));

  options.force = true;
  ASSERT_TRUE(runInitCommand(options).has_value());
  EXPECT_EQ(slurp("demo/src/main.qov"), starterSource(InitTemplateKind::flatX86_64));
}

TEST_F(InitCommand, NamesWhatStandsWhereAFolderMustBe) {
  put("file", "x");
  ASSERT_EQ(::mkfifo("fifo", 0600), 0);
  fs::create_symlink("nowhere", "dangling");
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"file", "'file' is not a folder but a file; the project needs a folder there"},
      {"file/deeper", "'file' is not a folder but a file; the project needs a folder there"},
      {"fifo", "'fifo' is not a folder but a FIFO; the project needs a folder there"},
      {"dangling", "'dangling' is a symbolic link that leads nowhere; move it away first"},
  };
  for (const auto& [directory, note] : cases) {
    InitOptions options;
    options.directory = directory;
    std::string failed;
    const auto made = runInitCommand(options, &failed);
    ASSERT_FALSE(made) << directory;
    EXPECT_EQ(initFailureNote(options, failed, made.error()), note) << directory;
  }
}

TEST(InitOptions, NotesTheChoicesAStarterCannotHonour) {
  const std::pair<std::vector<std::string_view>, std::optional<std::string>> cases[] = {
      {{"--isa", "rv64", "--bits", "32"}, "--bits 32 makes the project RV32 (isa riscv32), whatever width the ISA name "
                                          "carries"},
      {{"--isa", "riscv", "--bits", "32"}, std::nullopt},
      {{"--isa", "rv32", "--os", "linux"},
       "--os linux has no RISC-V starter: the PE and ELF starters are x86 only, so the starter is a flat binary"},
      {{"--isa", "x86", "--os", "linux"}, std::nullopt},
      {{"--target", "x86-64", "--bits", "32"},
       "--bits 32 makes the project 32-bit x86 (isa x86-64 with bits 32), whatever width the ISA name carries"},
      {{"--isa", "x86", "--bits", "64"}, std::nullopt},
  };
  for (const auto& [arguments, note] : cases)
    EXPECT_EQ(initChoiceNote(std::get<InitOptions>(parseInitOptions(arguments))), note) << arguments[1];
  EXPECT_EQ(initIsaNamesNote(), "the ISA names are x86-64, x86_64, x64, x86, x86-32, riscv, riscv64, rv64, riscv32 "
                                "and rv32; x86 and riscv take their width from --bits 32 or --bits 64");
}

TEST(InitOptions, NotesTheOptionsALaterTargetReplaced) {
  const std::string advice = " given before it; give it after --target, or use --isa, which leaves os and abi as they are";
  const std::pair<std::vector<std::string_view>, std::optional<std::string>> cases[] = {
      {{"--os", "windows", "--target", "x86-64"},
       "--target x86-64 sets the isa, bits, os and abi at once, and replaced the --os windows" + advice},
      {{"--abi", "msvc", "--bits", "32", "--target", "rv64"},
       "--target rv64 sets the isa, bits, os and abi at once, and replaced the --bits 32 and --abi msvc given before "
       "it; give them after --target, or use --isa, which leaves os and abi as they are"},
      {{"--os", "bin", "--bits", "64", "--target", "x86-64"}, std::nullopt},
      {{"--os", "windows", "--target", "x86-64", "--os", "linux"}, std::nullopt},
      {{"--target", "x86-64", "--os", "windows"}, std::nullopt},
  };
  for (const auto& [arguments, note] : cases)
    EXPECT_EQ(initReplacedNote(std::get<InitOptions>(parseInitOptions(arguments))), note) << arguments[1];
}

TEST(InitOptions, QuotesInNamesAreEscaped) {
  InitOptions options;
  EXPECT_NE(projectFileText("a\"b\\c", "build/app", options).find("name = \"a\\\"b\\\\c\"\n"), std::string::npos);
}

}  // namespace
