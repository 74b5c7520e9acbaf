#include "main/road.hpp"

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include "assembly/flat.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/module/module.hpp"
#include "main/diagnostics_output.hpp"
#include "main/listing.hpp"
#include "main/output_files.hpp"
#include "main/platform.hpp"
#include "main/platform_memory.hpp"

namespace qovrin::main {
namespace {

using frontend::lower::contracts::IncludeRequest;
using frontend::lower::contracts::IncludeSource;

// Measures one step of the run into the trace.
class TimedStep {
 public:
  TimedStep(TimingTrace& trace, TimingTag tag) : trace_(trace), tag_(tag), start_(platform::monotonicNanoseconds()) {}
  void finish() { trace_.add(tag_, platform::monotonicNanoseconds() - start_); }

 private:
  TimingTrace& trace_;
  TimingTag tag_;
  std::int64_t start_;
};

// One note per unresolved fixup at its line, as many as a reader can take
// in; the rest are counted. Fixups come in the order their lines were
// lowered, which is source order, includes and macro bodies where they were used.
std::vector<frontend::diagnostic::Diagnostic> unresolvedFixupNotes(
    const frontend::diagnostic::DiagnosticStore& store, std::span<const assembly::UnresolvedFixup> unresolved) {
  constexpr std::size_t kShown = 20;
  std::vector<frontend::diagnostic::Diagnostic> notes;
  for (const auto& fixup : unresolved.first(std::min(unresolved.size(), kShown))) {
    notes.push_back({fixup.note, fixup.place, frontend::diagnostic::Severity::note});
    for (auto& expansion : store.expansionNotes(fixup.place)) notes.push_back(std::move(expansion));
  }
  if (unresolved.size() > kShown)
    notes.push_back(
        {"... and " + std::to_string(unresolved.size() - kShown) + " more", {}, frontend::diagnostic::Severity::note});
  return notes;
}

}  // namespace

frontend::lower::contracts::PathOptions pathOptionsFor(const IncludeRoots& roots,
                                                       const std::optional<std::string>& identity, InputFiles& inputs) {
  frontend::lower::contracts::PathOptions options;
  options.resolve_file_include = [&roots, &inputs](const IncludeRequest& request) -> Result<IncludeSource> {
    platform::InputRead read;
    read.contents = request.contents;
    read.limit = request.limit;
    if (request.window) read.window = platform::InputWindow{request.window->offset, request.window->length};
    auto found = resolveFileInclude(roots, request.name, request.base, read);
    if (!found) return fail(found.error());
    // A file only tested for (`fs.exists`) gave the run nothing to lose.
    if (request.contents) inputs.record("input", found->path);
    return IncludeSource{std::move(found->path), std::move(found->realPath), std::move(found->text)};
  };
  options.list_file_include_directory = [&roots](const IncludeRequest& request) {
    return listFileIncludeDirectory(roots, request.name, request.base);
  };
  options.is_file_include_directory = [&roots](const IncludeRequest& request) -> Result<bool> {
    return isFileIncludeDirectory(roots, request.name, request.base);
  };
  options.include_folders = [&roots](const IncludeRequest& request) {
    auto folders = includeFolders(roots, request.name, request.base);
    for (std::string& folder : folders)
      if (folder.empty()) folder = ".";
    return folders;
  };
  options.unreadable_include = [&roots](const IncludeRequest& request) {
    return unreadableInclude(roots, request.name, request.base);
  };
  options.files_available = true;
  if (identity) options.identity = *identity;
  return options;
}

int failRun(StandardStreams& streams, RunDisplay& display, std::string_view prefix, Error error,
            std::span<const std::string> notes) {
  display.finish(false);
  return reportError(streams, prefix, error, notes);
}

int failLowering(StandardStreams& streams, RunDisplay& display, std::string_view prefix, Error error,
                 const frontend::module::Module& module) {
  // An unclosed virtual.begin is the one such failure that lowering explains,
  // in a note it records last; the warnings and prints before it keep their
  // place ahead of the failure's line.
  const std::span<const frontend::diagnostic::Diagnostic> diagnostics = module.diagnostics().diagnostics();
  std::size_t said = diagnostics.size();
  if (error == Error::UnclosedVirtualOutput && said > 0 &&
      diagnostics.back().severity == frontend::diagnostic::Severity::note)
    --said;
  std::string before;
  std::string explaining;
  WarningCap warnings;
  if (!appendDiagnostics(before, module, diagnostics.first(said), warnings)) before.clear();
  appendLeftOutWarnings(before, warnings);
  if (!appendDiagnostics(explaining, module, diagnostics.subspan(said), warnings)) explaining.clear();
  display.finish(false);
  streams.err.write(before);
  const int status = reportError(streams, prefix, error, {});
  streams.err.write(explaining);
  (void)streams.err.flush();
  return status;
}

int finishAssembledRun(const RunOutputs& outputs, const InputFiles& inputs, const AssembledFlat& assembled,
                       StandardStreams& streams, RunDisplay& display, TimingTrace& trace) {
  if (auto flushed = streams.err.flush(); !flushed) return failRun(streams, display, "error: ", flushed.error());
  const std::uint64_t pending = assembled.result.pending_fixups;
  if (pending != 0) {
    display.finish(false);
    std::string notes;
    const auto noted = unresolvedFixupNotes(assembled.module->diagnostics(), assembled.result.unresolved);
    WarningCap warnings;
    if (!appendDiagnostics(notes, *assembled.module, noted, warnings)) notes.clear();
    streams.err.write(notes);
    streams.err.write("error: " + std::to_string(pending) + " unresolved fixup(s)\n");
    (void)streams.err.flush();
    return 1;
  }

  const std::vector<RunFile> written = outputFiles(outputs.outputPath, outputs.listingPath);
  if (const auto clash = findOverwrittenFile(written, inputs.files())) {
    const std::string_view prefix = outputs.command == "build" ? "error: build failed: " : "error: assembly failed: ";
    return failRun(streams, display, prefix, Error::PathAlreadyExists, std::span(&*clash, 1));
  }

  // The write's own failure, with the path and the system's cause in a note.
  const auto failWrite = [&](const std::string& path, const platform::FileFailure& failure) {
    const std::string note = "cannot write " + (path.empty() ? std::string("''") : path) + ": " + failure.cause;
    return failRun(streams, display, "error: ", failure.error, std::span(&note, 1));
  };
  // The output and the listing are one pair: both destinations are checked,
  // then both written beside their targets, before either changes, so a
  // failed run leaves both as they were.
  std::optional<std::string> listing;
  if (outputs.listingPath) {
    auto rendered = renderListing(outputs.sourcePath, assembled);
    if (!rendered) return failRun(streams, display, "error: ", rendered.error());
    listing = std::move(*rendered);
  }
  const auto& image = assembled.result.image;
  const std::string_view imageBytes(reinterpret_cast<const char*>(image.data()), image.size());
  platform::PreparedWrite outputWrite;
  platform::PreparedWrite listingWrite;
  if (auto prepared = outputWrite.prepare(outputs.outputPath, imageBytes); !prepared)
    return failWrite(outputs.outputPath, prepared.error());
  if (listing) {
    if (auto prepared = listingWrite.prepare(*outputs.listingPath, *listing); !prepared)
      return failWrite(*outputs.listingPath, prepared.error());
  }
  const auto writeStep = [&](std::string_view node, TimingTag tag, platform::PreparedWrite& write,
                             const std::string& path) -> std::optional<int> {
    const auto id = display.start(node);
    TimedStep step(trace, tag);
    const auto aside = write.writeAside();
    display.end(id);
    if (!aside) return failWrite(path, aside.error());
    step.finish();
    return std::nullopt;
  };
  if (auto failed = writeStep("write output", TimingTag::writeOutput, outputWrite, outputs.outputPath)) return *failed;
  if (listing) {
    if (auto failed = writeStep("write listing", TimingTag::writeListing, listingWrite, *outputs.listingPath))
      return *failed;
  }
  // Writing a device or a pipe in place, and the renames, count as writing the output.
  TimedStep finishing(trace, TimingTag::writeOutput);
  platform::PreparedWrite* const writes[] = {&outputWrite, &listingWrite};
  if (const auto finished = platform::finishWrites(std::span(writes, listing ? 2 : 1)); !finished)
    return failWrite(finished.error().index == 0 ? outputs.outputPath : *outputs.listingPath, finished.error().failure);
  finishing.finish();
  display.finish(true);

  // Written to a standard output that holds the output file (`-o
  // /dev/stdout`), the summary would follow the bytes into a pipe or land
  // over them in a file, so it goes with the diagnostics then.
  const auto standardOutput = platform::standardOutputFile();
  const bool outputOnStandardOutput = std::ranges::any_of(
      written, [&](const RunFile& file) { return standardOutput && file.identity == *standardOutput; });
  StreamWriter& summary = outputOnStandardOutput ? streams.err : streams.out;
  const frontend::target::Target target = assembled.module->target();
  summary.write(outputs.command == "build" ? "built" : "assembled");
  summary.write(" output (" + std::to_string(image.size()) + " bytes, " +
                std::to_string(assembled.result.instruction_fragments) + " instruction fragments, target ");
  summary.write(targetName(target));
  summary.write(")\n");
  if (outputs.timing != TimingMode::off) {
    const TimingCounts counts{image.size(), assembled.result.instruction_fragments, pending};
    summary.write(timingReport(outputs.command, target, counts, trace, platform::monotonicNanoseconds() - trace.start,
                               outputs.timing));
  }
  if (auto flushed = summary.flush(); !flushed) {
    // The files are already in place, and a reader who sees only the error
    // would take them for half written.
    std::string note = std::string("only the summary on standard ") + (outputOnStandardOutput ? "error" : "output") +
                       " could not be written; the output " + outputs.outputPath;
    note += outputs.listingPath ? " and the listing " + *outputs.listingPath + " are complete" : " is complete";
    return failRun(streams, display, "error: ", flushed.error(), std::span(&note, 1));
  }
  return 0;
}

int runAssembleRoad(const CliOptions& options, StandardStreams& streams) {
  RunDisplay display("qovrin assemble", options.progress, streams);
  TimingTrace trace;
  trace.start = platform::monotonicNanoseconds();
  const std::string sourcePath(*options.sourcePath);

  const auto readNode = display.start("read source");
  TimedStep reading(trace, TimingTag::readSource);
  auto sourceText = readSourceFile(sourcePath);
  display.end(readNode);
  if (!sourceText) {
    const std::string note = readFailureNote(sourcePath);
    return failRun(streams, display, "error: ", sourceText.error(), std::span(&note, 1));
  }
  reading.finish();
  InputFiles inputs;
  inputs.record("source", sourcePath);

  const auto assembleNode = display.start("assemble flat");
  auto module = std::make_unique<frontend::module::Module>(options.target);
  module->setReservesForLines(!platform::addressSpaceLeft());
  const auto roots = buildIncludeRoots();
  if (!roots) {
    const auto why = platform::currentDirectoryFailure();
    return failRun(streams, display, "error: assembly failed: ", why.error, std::span(&why.cause, 1));
  }
  const auto identity = canonicalFileIdentity(sourcePath);

  TimedStep lowering(trace, TimingTag::parseLower);
  const Status lowered = frontend::lower::root::lowerSourceIntoModuleWithPathOptions(
      *module, sourcePath, std::move(*sourceText), pathOptionsFor(*roots, identity, inputs));
  if (!lowered && !module->diagnostics().hasErrors())
    return failLowering(streams, display, "error: assembly failed: ", lowered.error(), *module);
  lowering.finish();

  auto assembled = assembleModuleFlatChecked(std::move(module), streams.err, trace);
  if (!assembled) return failRun(streams, display, "error: assembly failed: ", assembled.error());
  display.end(assembleNode);

  RunOutputs outputs{sourcePath, std::string(options.outputPath.value_or("")), std::nullopt, options.timing,
                     "assemble"};
  if (!options.outputPath) outputs.outputPath = defaultOutputPath(sourcePath);
  if (options.listingPath) outputs.listingPath = std::string(*options.listingPath);
  return finishAssembledRun(outputs, inputs, *assembled, streams, display, trace);
}

}  // namespace qovrin::main
