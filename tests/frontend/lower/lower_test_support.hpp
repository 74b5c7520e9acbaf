#pragma once
// Lowering a source with in-memory include files, and reading back what it
// reported, defined and emitted.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.hpp"
#include "frontend/lower/include_callbacks.hpp"
#include "frontend/module/module.hpp"

namespace lower_test {

// Files by the name an include writes; the path as found is the name itself.
struct Files {
  std::map<std::string, std::string, std::less<>> texts;
  std::vector<std::string> requested;  // names asked for, in order
  std::vector<std::uint64_t> limits;   // the most bytes each request could take
  bool available = true;
};

frontend::lower::contracts::PathOptions pathOptions(Files& files);

struct Lowered {
  qovrin::Status status;
  std::vector<std::string> diagnostics;  // "path:line:column: message", errors only
};

// Lowers text as "main.qov" into the module.
Lowered lower(frontend::module::Module& module, std::string_view text, Files& files);
Lowered lower(frontend::module::Module& module, std::string_view text);

// A module value's integer word; nothing when the name is not an integer value.
std::optional<std::uint64_t> integerValue(const frontend::module::Module& module, std::string_view name);

// One source, the error diagnostics it must give (none: it must succeed) and
// module values it must leave behind.
struct Case {
  std::string source;
  std::vector<std::string> diagnostics;
  std::vector<std::pair<std::string, std::uint64_t>> values = {};
};

// Lowers each case into a fresh x86-64 module with a copy of files.
void expectCases(const std::vector<Case>& cases, const Files& files = {});

// "main.qov:1:1: note: text" for every diagnostic, in order.
std::vector<std::string> allDiagnostics(const frontend::module::Module& module);

// One entry per instruction line, in fragment order: the bytes of a line
// settled into a run, each fixup it still waits for after them as
// "<target>" ("e9 00 00 00 00 <later>"); the text of a line that keeps its
// fragment.
std::vector<std::string> instructionLines(const frontend::module::Module& module);

// "01 00 ff": the stored bytes of the section's fragments in order;
// reserves, alignments and instruction lines appear as "r<size>",
// "a<alignment>/<fill>" and "[entry]", with the entry instructionLines gives.
std::string sectionContent(const frontend::module::Module& module, std::uint32_t section);

// A source, what the section current at its end holds (checked only on
// success) and every diagnostic it gives, of any severity.
struct OutputCase {
  std::string source;
  std::string content;
  std::vector<std::string> diagnostics = {};
  bool succeeds = true;
};

void expectOutputCases(const std::vector<OutputCase>& cases, const Files& files = {});

}  // namespace lower_test
