#pragma once
// Diagnostics as the user reads them: "<path>:<line>:<col>: <severity>: <message>".

#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/module.hpp"

namespace qovrin::main {

struct LineColumn {
  std::uint32_t line = 1;
  std::uint32_t column = 1;
};

// 1-based line and byte column of `offset` in `text`; CR, LF and CR LF each
// end one line, and an offset past the end lands just after the last byte.
LineColumn lineColumnAt(std::string_view text, std::uint32_t offset) noexcept;

// Appends the diagnostics from index `printed` on to `out` and advances
// `printed` to the store's length. InvalidSource (with `printed` unchanged)
// when a diagnostic names a source the module does not have.
Status appendNewDiagnostics(std::string& out, const frontend::module::Module& module, std::uint64_t& printed);

}  // namespace qovrin::main
