#pragma once
// The assembly step shared by the assemble road and the build command, and
// the record that carries an assembled module to the end of the run.

#include <memory>

#include "assembly/flat.hpp"
#include "common/error.hpp"
#include "frontend/module/module.hpp"
#include "main/stream_writer.hpp"
#include "main/timing.hpp"

namespace qovrin::main {

struct AssembledFlat {
  std::unique_ptr<frontend::module::Module> module;
  assembly::AssemblyResult result;
};

// Prints what lowering reported; stops with FrontendDiagnostics when that
// holds an error; otherwise assembles (phases timed into `trace`) and prints
// what assembly added, failing with FrontendDiagnostics again on an error.
Result<AssembledFlat> assembleModuleFlatChecked(std::unique_ptr<frontend::module::Module> module,
                                                StreamWriter& errors, TimingTrace& trace);

}  // namespace qovrin::main
