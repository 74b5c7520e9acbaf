#pragma once
// The assemble road (one source file to one output file, with the optional
// listing and timing report) and the steps the build command shares with it.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/lower/include_callbacks.hpp"
#include "main/assembled_flat.hpp"
#include "main/cli.hpp"
#include "main/include_resolution.hpp"
#include "main/run_display.hpp"
#include "main/run_files.hpp"
#include "main/timing.hpp"

namespace qovrin::main {

// The include callbacks over the run's roots; every file they read is
// recorded in `inputs`. `roots`, `identity` and `inputs` must outlive the
// lowering call.
frontend::lower::contracts::PathOptions pathOptionsFor(const IncludeRoots& roots,
                                                       const std::optional<std::string>& identity, InputFiles& inputs);

// Where an assembled run writes, and how it reports.
struct RunOutputs {
  std::string sourcePath;
  std::string outputPath;
  std::optional<std::string> listingPath;
  TimingMode timing = TimingMode::off;
  std::string_view command;  // "assemble" or "build"
};

// "<prefix><ErrorName>" and its notes unless the diagnostics already said
// it; status 1.
int failRun(StandardStreams& streams, RunDisplay& display, std::string_view prefix, Error error,
            std::span<const std::string> notes = {});

// A lowering failure that no error diagnostic names: "<prefix><ErrorName>",
// then the notes lowering left about it, with their places; status 1.
int failLowering(StandardStreams& streams, RunDisplay& display, std::string_view prefix, Error error,
                 const frontend::module::Module& module);

// After a successful assembly: the unresolved-fixup check, the refusal to
// write over one of `inputs` or one output over the other, the output and
// listing files, the summary line and the timing report. Returns the status.
int finishAssembledRun(const RunOutputs& outputs, const InputFiles& inputs, const AssembledFlat& assembled,
                       StandardStreams& streams, RunDisplay& display, TimingTrace& trace);

int runAssembleRoad(const CliOptions& options, StandardStreams& streams);

// The build command: the project file's settings, defines and include files,
// then the same steps with "built output" as its summary.
int runBuildCommand(const CliOptions& options, StandardStreams& streams);

}  // namespace qovrin::main
