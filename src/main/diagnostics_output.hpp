#pragma once
// Diagnostics as the user reads them: "<path>:<line>:<col>: <severity>: <message>",
// with control bytes and bytes that are not UTF-8 written as \xNN.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/error.hpp"
#include "frontend/module/module.hpp"
#include "main/source_lines.hpp"

namespace qovrin::main {

// A warning of one text is printed this many times in a run; the rest are
// counted and told in one line at the end.
inline constexpr std::uint64_t kWarningsShown = 100;

// How many warnings of each text a run has printed, and how many it left
// out, in the order the first of each was left out.
struct WarningCap {
  std::unordered_map<std::string, std::uint64_t> seen;
  std::vector<std::pair<std::string, std::uint64_t>> left_out;
};

// Appends the diagnostics, one line each; a warning past its text's share
// is left out with its notes and counted in `cap`. InvalidSource when one
// names a source the module does not have (the lines before it stay
// appended).
Status appendDiagnostics(std::string& out, const frontend::module::Module& module,
                         std::span<const frontend::diagnostic::Diagnostic> diagnostics, WarningCap& cap);

// What a run has printed of its diagnostics: how many, and its warnings.
struct PrintedDiagnostics {
  std::uint64_t count = 0;
  WarningCap warnings;
};

// Appends the diagnostics from index `printed.count` on to `out` and advances
// the count to the store's length. InvalidSource (with the count unchanged)
// when a diagnostic names a source the module does not have.
Status appendNewDiagnostics(std::string& out, const frontend::module::Module& module, PrintedDiagnostics& printed);

// One line for each text whose warnings were left out, with their number;
// forgets them.
void appendLeftOutWarnings(std::string& out, WarningCap& cap);

}  // namespace qovrin::main
