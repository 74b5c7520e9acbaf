#pragma once
// Diagnostics as the user reads them: "<path>:<line>:<col>: <severity>: <message>",
// with control bytes and bytes that are not UTF-8 written as \xNN.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/module/module.hpp"
#include "main/source_lines.hpp"

namespace qovrin::main {

// Appends the diagnostics, one line each. InvalidSource when one names a
// source the module does not have (the lines before it stay appended).
Status appendDiagnostics(std::string& out, const frontend::module::Module& module,
                         std::span<const frontend::diagnostic::Diagnostic> diagnostics);

// Appends the diagnostics from index `printed` on to `out` and advances
// `printed` to the store's length. InvalidSource (with `printed` unchanged)
// when a diagnostic names a source the module does not have.
Status appendNewDiagnostics(std::string& out, const frontend::module::Module& module, std::uint64_t& printed);

}  // namespace qovrin::main
