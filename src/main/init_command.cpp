#include "main/init_command.hpp"

#include <algorithm>
#include <array>
#include <cerrno>

#include "common/ascii.hpp"
#include "main/include_resolution.hpp"
#include "main/platform.hpp"
#include "main/platform_input.hpp"

namespace qovrin::main {
namespace {

constexpr std::string_view kGuidance =
    "Project-local QOVRIN include files can live here.\n"
    "\n"
    "Use this directory for helpers specific to your project. Standard\n"
    "executable and object formats normally begin with:\n"
    "\n"
    "    import(\"format/format.inc\");\n"
    "\n"
    "The ordinary facade derives format counts, rows, offsets, and common\n"
    "metadata. Advanced users can import a specific file under format/*.inc\n"
    "when implementing a specialized layout or another format layer.\n";

constexpr std::string_view kFlatX86Head =
    "// Flat x86 binary starter.\n"
    "// Use --os windows or --os linux with qovrin init for an executable\n"
    "// template built through the ordinary format facade.\n"
    "\n";

constexpr std::string_view kFlatRiscvTail =
    "// Standard executable facade templates currently target x86.\n"
    "\n";

constexpr std::string_view kPeBody =
    "import(\"format/format.inc\");\n"
    "X86USE\n"
    "\n"
    "let image: map = FORMAT(\n"
    "    format_pe_exe | format_pe_console | format_pe_nx | format_pe_aslr_auto,\n"
    "    list.of(\n"
    "        format_section(\".text\", format_code | format_readable | format_executable)\n"
    "    )\n"
    ")\n"
    "format_begin(image);\n"
    "\n"
    "format_section_begin(image, \".text\");\n"
    "start:\n"
    "    xor eax, eax\n"
    "    ret\n"
    "format_section_end(image, \".text\");\n"
    "\n"
    "format_entry_mut(image, start)\n"
    "format_finish(image);\n";

constexpr std::string_view kElfBody =
    "import(\"format/format.inc\");\n"
    "X86USE\n"
    "\n"
    "let image: map = FORMAT(\n"
    "    format_elf_exec,\n"
    "    list.of(\n"
    "        format_segment(\".text\", format_load | format_readable | format_executable)\n"
    "    )\n"
    ")\n"
    "format_begin(image);\n"
    "\n"
    "format_segment_begin(image, \".text\");\n"
    "start:\n"
    "INSTRUCTIONS"
    "format_segment_end(image, \".text\");\n"
    "\n"
    "format_entry_mut(image, start)\n"
    "format_finish(image);\n";

// The starters of one family differ only in a few words; fill them in.
std::string fill(std::string_view pattern, std::span<const std::pair<std::string_view, std::string_view>> words) {
  std::string text(pattern);
  for (const auto& [placeholder, word] : words) {
    const std::size_t at = text.find(placeholder);
    if (at != std::string::npos) text.replace(at, placeholder.size(), word);
  }
  return text;
}

struct IsaName {
  std::string_view name;
  std::string_view isa;
  std::uint16_t bits;
};

constexpr std::array<IsaName, 10> kIsaNames = {{{"x86-64", "x86-64", 64},
                                                {"x86_64", "x86-64", 64},
                                                {"x64", "x86-64", 64},
                                                {"x86", "x86", 32},
                                                {"x86-32", "x86", 32},
                                                {"riscv", "riscv64", 64},
                                                {"riscv64", "riscv64", 64},
                                                {"rv64", "riscv64", 64},
                                                {"riscv32", "riscv32", 32},
                                                {"rv32", "riscv32", 32}}};

const IsaName* findIsa(std::string_view name) noexcept {
  for (const IsaName& entry : kIsaNames)
    if (entry.name == name) return &entry;
  return nullptr;
}

// Only the family names take their width from --bits alone.
std::uint16_t namedBits(const IsaName& entry) noexcept {
  return entry.name == "x86" || entry.name == "riscv" ? 0 : entry.bits;
}

bool onlyCharacters(std::string_view value, std::string_view extra) noexcept {
  if (value.empty()) return false;
  for (const char c : value)
    if (!isAsciiLetter(c) && !isAsciiDigit(c) && !isOneOf(c, extra)) return false;
  return true;
}

bool isRiscvIsa(std::string_view isa) noexcept {
  return isa == "riscv64" || isa == "riscv32" || isa == "rv64" || isa == "rv32";
}

// TOML basic-string escapes for the two characters that would end or break
// the string, so the project file always reads back.
std::string tomlEscaped(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string_view lastComponent(std::string_view path) noexcept {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace

std::variant<InitOptions, HelpCommand, CliParseIssue> parseInitOptions(std::span<const std::string_view> arguments) {
  InitOptions options;
  // The isa, bits, os and abi as their own options last gave them, for the
  // note when a later --target changes one.
  struct Given {
    std::string_view option;
    std::string_view value;
    bool replaced = false;
  };
  std::array<Given, 4> given{};
  enum Field : std::size_t { isaField, bitsField, osField, abiField };
  const auto setDirectory = [&](std::string_view directory) -> std::optional<CliParseIssue> {
    if (options.directory)
      return CliParseIssue{CliIssueKind::multipleInitDirectories, *options.directory, directory};
    options.directory = directory;
    return std::nullopt;
  };
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string_view option = arguments[index];
    if (option == "-h" || option == "--help") return HelpCommand{HelpTopic::usage};
    if (option == "--force") {
      options.force = true;
      continue;
    }
    constexpr std::array<std::string_view, 9> kValued = {"--name", "--dir",  "--target", "--isa", "--arch",
                                                         "--bits", "--bit", "--os",     "--abi"};
    if (std::find(kValued.begin(), kValued.end(), option) == kValued.end()) {
      if (!option.empty() && option.front() == '-') return CliParseIssue{CliIssueKind::unknownOption, option, {}};
      if (auto issue = setDirectory(option)) return *issue;
      continue;
    }
    if (index + 1 >= arguments.size() || arguments[index + 1].starts_with("--"))
      return CliParseIssue{CliIssueKind::initOptionValueMissing, option, {}};
    const std::string_view value = arguments[++index];
    const CliParseIssue invalidValue{CliIssueKind::invalidInitValue, option, value};
    if (option == "--name") {
      if (value == "." || value == ".." || !onlyCharacters(value, "_-")) return invalidValue;
      options.name = value;
    } else if (option == "--dir") {
      if (auto issue = setDirectory(value)) return *issue;
    } else if (option == "--target") {
      const IsaName* isa = findIsa(value);
      if (isa == nullptr) return CliParseIssue{CliIssueKind::invalidTarget, value, {}};
      const std::string_view os = isRiscvIsa(isa->isa) ? "none" : "bin";
      const bool changed[] = {options.isa != isa->isa, options.bits != isa->bits, options.os != os,
                              options.abi != "none"};
      for (std::size_t field = 0; field < given.size(); ++field) {
        if (given[field].option.empty() || given[field].replaced || !changed[field]) continue;
        given[field].replaced = true;
        options.replacing_target = value;
      }
      options.isa = isa->isa;
      options.bits = isa->bits;
      options.named_bits = namedBits(*isa);
      options.os = os;
      options.abi = "none";
    } else if (option == "--isa" || option == "--arch") {
      const IsaName* isa = findIsa(value);
      if (isa == nullptr) return CliParseIssue{CliIssueKind::invalidTarget, value, {}};
      options.isa = isa->isa;
      options.bits = isa->bits;
      options.named_bits = namedBits(*isa);
      given[isaField] = {option, value};
    } else if (option == "--bits" || option == "--bit") {
      if (value != "32" && value != "64") return invalidValue;
      options.bits = value == "32" ? 32 : 64;
      given[bitsField] = {option, value};
    } else {
      if (!onlyCharacters(value, "-._")) return invalidValue;
      (option == "--os" ? options.os : options.abi) = value;
      given[option == "--os" ? osField : abiField] = {option, value};
    }
  }
  // A RISC-V project is named by its width, which --bits decides last.
  if (isRiscvIsa(options.isa)) options.isa = options.bits == 32 ? "riscv32" : "riscv64";
  for (const Given& field : given)
    if (field.replaced) options.replaced_by_target.push_back(std::string(field.option) + " " + std::string(field.value));
  return options;
}

std::string initIsaNamesNote() {
  std::string names;
  for (std::size_t index = 0; index < kIsaNames.size(); ++index) {
    if (index > 0) names += index + 1 == kIsaNames.size() ? " and " : ", ";
    names += kIsaNames[index].name;
  }
  return "the ISA names are " + names + "; x86 and riscv take their width from --bits 32 or --bits 64";
}

std::optional<std::string> initChoiceNote(const InitOptions& options) {
  const std::string width = std::to_string(options.bits);
  const bool widthOverruled = options.named_bits != 0 && options.named_bits != options.bits;
  if (!isRiscvIsa(options.isa)) {
    if (!widthOverruled) return std::nullopt;
    return "--bits " + width + " makes the project " + (options.bits == 32 ? "32-bit x86" : "x86-64") + " (isa " +
           std::string(options.isa) + " with bits " + width + "), whatever width the ISA name carries";
  }
  if (widthOverruled)
    return "--bits " + width + " makes the project RV" + width + " (isa riscv" + width +
           "), whatever width the ISA name carries";
  if (options.os == "windows" || options.os == "linux")
    return "--os " + std::string(options.os) +
           " has no RISC-V starter: the PE and ELF starters are x86 only, so the starter is a flat binary";
  return std::nullopt;
}

std::optional<std::string> initReplacedNote(const InitOptions& options) {
  const auto& replaced = options.replaced_by_target;
  if (replaced.empty()) return std::nullopt;
  std::string list;
  for (std::size_t index = 0; index < replaced.size(); ++index) {
    if (index > 0) list += index + 1 == replaced.size() ? " and " : ", ";
    list += replaced[index];
  }
  return "--target " + std::string(options.replacing_target) +
         " sets the isa, bits, os and abi at once, and replaced the " + list + " given before it; give " +
         (replaced.size() == 1 ? "it" : "them") + " after --target, or use --isa, which leaves os and abi as they are";
}

InitTemplateKind initTemplateKind(const InitOptions& options) noexcept {
  const bool narrow = options.bits == 32;
  if (isRiscvIsa(options.isa)) return narrow ? InitTemplateKind::flatRiscv32 : InitTemplateKind::flatRiscv64;
  if (options.os == "windows") return narrow ? InitTemplateKind::pe32 : InitTemplateKind::pe64;
  if (options.os == "linux") return narrow ? InitTemplateKind::elf32 : InitTemplateKind::elf64;
  return narrow ? InitTemplateKind::flatX86 : InitTemplateKind::flatX86_64;
}

std::string_view initOutputPath(InitTemplateKind kind) noexcept {
  switch (kind) {
    case InitTemplateKind::pe32:
    case InitTemplateKind::pe64:
      return "build/app.exe";
    case InitTemplateKind::elf32:
    case InitTemplateKind::elf64:
      return "build/app";
    default:
      return "build/app.bin";
  }
}

std::string starterSource(InitTemplateKind kind) {
  using Words = std::pair<std::string_view, std::string_view>;
  switch (kind) {
    case InitTemplateKind::flatX86:
      return std::string(kFlatX86Head) + "x86.use32();\norigin(0);\n\nstart:\n    mov eax, 1\n    ret\n";
    case InitTemplateKind::flatX86_64: {
      const Words words[] = {{"x86 binary", "x86-64 binary"}};
      return fill(kFlatX86Head, words) + "x86.use64();\norigin(0);\n\nstart:\n    mov rax, 1\n    ret\n";
    }
    case InitTemplateKind::flatRiscv32:
    case InitTemplateKind::flatRiscv64: {
      const bool wide = kind == InitTemplateKind::flatRiscv64;
      return std::string("// Flat RISC-V ") + (wide ? "64" : "32") + "-bit binary starter.\n" +
             std::string(kFlatRiscvTail) + (wide ? "riscv.use64();" : "riscv.use32();") +
             "\norigin(0);\n\nstart:\n    addi x1, x0, 1\n";
    }
    case InitTemplateKind::pe32:
    case InitTemplateKind::pe64: {
      const bool wide = kind == InitTemplateKind::pe64;
      const Words words[] = {{"X86USE", wide ? "x86.use64();" : "x86.use32();"},
                             {"FORMAT", wide ? "format_pe64" : "format_pe32"}};
      return std::string("// ") + (wide ? "PE64" : "PE32") +
             " console executable using the ordinary format facade.\n" + fill(kPeBody, words);
    }
    case InitTemplateKind::elf32:
    case InitTemplateKind::elf64:
      break;
  }
  const bool wide = kind == InitTemplateKind::elf64;
  const Words words[] = {
      {"X86USE", wide ? "x86.use64();" : "x86.use32();"},
      {"FORMAT", wide ? "format_elf64" : "format_elf32"},
      {"INSTRUCTIONS", wide ? "    mov eax, 60\n    xor edi, edi\n    syscall\n"
                            : "    mov eax, 1\n    xor ebx, ebx\n    int 0x80\n"}};
  return std::string("// ") + (wide ? "ELF64" : "ELF32") + " executable using the ordinary format facade.\n" +
         fill(kElfBody, words);
}

std::optional<std::string_view> starterNote(InitTemplateKind kind) noexcept {
  switch (kind) {
    case InitTemplateKind::pe32:
    case InitTemplateKind::pe64:
    case InitTemplateKind::elf32:
    case InitTemplateKind::elf64:
      return "src/main.qov imports 'format/format.inc', which qovrin does not ship; the project builds once a "
             "format library is placed under include/";
    default:
      return std::nullopt;
  }
}

std::string_view includeGuidanceText() noexcept { return kGuidance; }

std::string initProjectName(const InitOptions& options, std::string_view workingDir) {
  if (options.name) return std::string(*options.name);
  if (options.directory) return std::string(lastComponent(trim(*options.directory, "/\\")));
  return std::string(lastComponent(workingDir));
}

std::string projectFileText(std::string_view name, std::string_view outputPath, const InitOptions& options) {
  std::string text = "[project]\nname = \"" + tomlEscaped(name) + "\"\nversion = \"0.1.0\"\n\n";
  text += "[build]\nsource = \"src/main.qov\"\noutput = \"" + tomlEscaped(outputPath) + "\"\n\n";
  text += "[target]\nisa = \"" + tomlEscaped(options.isa) + "\"\nbits = " + std::to_string(options.bits) + "\n";
  text += "os = \"" + tomlEscaped(options.os) + "\"\nabi = \"" + tomlEscaped(options.abi) + "\"\n";
  return text;
}

// The first folder on the way to the project's own that something else
// holds: a file, a FIFO, a link that leads nowhere.
std::optional<std::string> blockedFolderNote(std::string_view directory) {
  for (std::size_t end = directory.find_first_not_of("/\\"); end != std::string_view::npos;) {
    end = directory.find_first_of("/\\", end);
    const std::string folder(directory.substr(0, end));
    const auto kind = platform::existingKind(folder);
    if (!kind && platform::namePresent(folder).value_or(false))
      return "'" + folder + "' is a symbolic link that leads nowhere; move it away first";
    if (kind && *kind != "a folder")
      return "'" + folder + "' is not a folder but " + std::string(*kind) + "; the project needs a folder there";
    if (!kind || end == std::string_view::npos) break;
    end = directory.find_first_not_of("/\\", end);
  }
  return std::nullopt;
}

std::string initFailureNote(const InitOptions& options, const std::string& failedPath, Error error) {
  if (options.directory)
    if (auto blocked = blockedFolderNote(*options.directory)) return std::move(*blocked);
  const std::string quotedPath = "'" + failedPath + "'";
  const auto kind = platform::existingKind(failedPath);
  if (!kind && platform::namePresent(failedPath).value_or(false))
    return quotedPath + " is a symbolic link that leads nowhere; move it away first";
  const std::string directory(options.directory.value_or(""));
  const bool folderWanted = failedPath == joinPath(directory, "src") || failedPath == joinPath(directory, "include");
  if (folderWanted && kind && *kind != "a folder")
    return quotedPath + " is not a folder but " + std::string(*kind) + "; the project needs a folder there";
  if (!folderWanted && kind && *kind != "a file")
    return quotedPath + " is " + std::string(*kind) + " where the project puts a file; move it away first";
  if (error == Error::PathAlreadyExists && !options.force) return quotedPath + " already exists (--force replaces it)";
  return "while writing " + quotedPath;
}

Result<std::string> runInitCommand(const InitOptions& options, std::string* failedPath) {
  std::string name;
  std::string directory;
  if (options.directory) {
    directory = std::string(*options.directory);
    name = initProjectName(options, {});
  } else {
    const auto workingDir = platform::currentDirectory();
    if (!workingDir) return fail(Error::FileNotFound);
    name = initProjectName(options, *workingDir);
  }
  const InitTemplateKind kind = initTemplateKind(options);
  const std::string files[3][2] = {
      {"qovrin.toml", projectFileText(name, initOutputPath(kind), options)},
      {"src/main.qov", starterSource(kind)},
      {"include/README.md", std::string(kGuidance)},
  };
  const auto place = [&](std::string_view relative) { return joinPath(directory, relative); };
  const auto failAt = [&](std::string_view relative, Error error) {
    if (failedPath != nullptr) *failedPath = place(relative);
    return fail(error);
  };

  // Every check comes before the first write, so a refused run leaves no
  // partial project behind. Names are looked at, never opened: a FIFO there
  // would hold the run until someone read it. --force replaces files only:
  // not a folder, a FIFO or a device, nor a link that leads nowhere.
  for (const auto& file : files) {
    const auto present = platform::namePresent(place(file[0]));
    if (!present) return failAt(file[0], present.error());
    if (*present && (!options.force || platform::existingKind(place(file[0])) != "a file"))
      return failAt(file[0], Error::PathAlreadyExists);
  }
  for (const std::string_view folder : {"include", "src"}) {
    const auto present = platform::namePresent(place(folder));
    if (!present) return failAt(folder, present.error());
    if (*present && platform::existingKind(place(folder)) != "a folder")
      return failAt(folder, platform::fileFailure(ENOTDIR).error);
  }
  for (const std::string_view folder : {"include", "src"})
    if (const auto made = platform::createDirectories(place(folder)); !made) return failAt(folder, made.error());
  for (const auto& file : files)
    if (const auto made = platform::createFile(place(file[0]), file[1], !options.force); !made)
      return failAt(file[0], made.error());
  return name;
}

}  // namespace qovrin::main
