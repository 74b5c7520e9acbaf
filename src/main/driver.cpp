#include "main/driver.hpp"

#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <string>

#include "common/work_stack.hpp"
#include "main/init_command.hpp"
#include "main/platform.hpp"
#include "main/platform_memory.hpp"
#include "main/platform_thread.hpp"
#include "main/road.hpp"

namespace qovrin::main {
namespace {

// A failure that reaches the top of the program: "error: <name>", status 1.
int reportFailure(StandardStreams& streams, Error error) { return reportError(streams, "error: ", error); }

int reportIssue(StandardStreams& streams, const CliParseIssue& issue, std::string_view note = {}) {
  streams.err.write(cliParseIssueLine(issue));
  if (!note.empty()) {
    streams.err.write("note: ");
    streams.err.write(note);
    streams.err.write("\n");
  }
  streams.err.write(helpText());
  if (auto flushed = streams.err.flush(); !flushed) return reportFailure(streams, flushed.error());
  return 2;
}

// Text for the standard output that ends a successful command.
int finishWith(StandardStreams& streams, std::string_view text) {
  streams.out.write(text);
  if (auto flushed = streams.out.flush(); !flushed) return reportFailure(streams, flushed.error());
  return 0;
}

int runHelp(StandardStreams& streams, HelpTopic topic) {
  if (topic == HelpTopic::usage) return finishWith(streams, helpText());
  std::string text = "QOVRIN ";
  text += kVersion;
  text += "\n\n";
  text += helpTopicText(topic);
  return finishWith(streams, text);
}

int runInit(StandardStreams& streams, std::span<const std::string_view> arguments) {
  const auto parsed = parseInitOptions(arguments);
  if (const auto* issue = std::get_if<CliParseIssue>(&parsed)) {
    // SPIR-V is a target of the assembler but has no starter project.
    const auto target = issue->kind == CliIssueKind::invalidTarget ? parseTarget(issue->first) : std::nullopt;
    if (target && target->isa == frontend::target::Isa::spirv)
      return reportIssue(streams, *issue,
                         "there is no SPIR-V starter project; write a source and assemble it with "
                         "'qovrin <source.qov> --target spv'");
    if (issue->kind == CliIssueKind::invalidTarget) return reportIssue(streams, *issue, initIsaNamesNote());
    return reportIssue(streams, *issue);
  }
  if (const auto* help = std::get_if<HelpCommand>(&parsed)) return runHelp(streams, help->topic);
  std::string failedPath;
  const auto name = runInitCommand(std::get<InitOptions>(parsed), &failedPath);
  if (!name) {
    if (failedPath.empty()) return reportFailure(streams, name.error());
    const std::string note = initFailureNote(std::get<InitOptions>(parsed), failedPath, name.error());
    return reportError(streams, "error: ", name.error(), std::span(&note, 1));
  }
  const int status = finishWith(streams, "initialized QOVRIN project " + *name + "\n");
  if (status != 0) return status;
  const InitOptions& options = std::get<InitOptions>(parsed);
  const auto starter = starterNote(initTemplateKind(options));
  const std::optional<std::string> notes[] = {initReplacedNote(options),
                                              starter ? std::optional<std::string>(*starter) : std::nullopt,
                                              initChoiceNote(options)};
  for (const auto& note : notes)
    if (note) streams.err.write("note: " + *note + "\n");
  (void)streams.err.flush();
  return status;
}

}  // namespace

namespace {

int runCommand(std::span<const std::string_view> arguments, StandardStreams& streams) {
  const Command command = parseCommandLine(arguments);
  if (const auto* issue = std::get_if<CliParseIssue>(&command)) return reportIssue(streams, *issue);
  if (const auto* help = std::get_if<HelpCommand>(&command)) return runHelp(streams, help->topic);
  if (const auto* init = std::get_if<InitCommand>(&command)) return runInit(streams, init->arguments);
  if (const auto* build = std::get_if<BuildCommand>(&command)) return runBuildCommand(build->options, streams);
  const CliOptions& options = std::get<AssembleCommand>(command).options;
  if (options.version) {
    std::string line = "QOVRIN ";
    line += kVersion;
    line += "\n";
    return finishWith(streams, line);
  }
  return runAssembleRoad(options, streams);
}

// "32 MiB", or KiB where the size is no whole number of MiB.
std::string stackSize(std::size_t bytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes >> 10) + " KiB";
}

// Where the stack left cannot hold even one statement's work, the run
// stops before it starts.
int reportSmallStack(StandardStreams& streams, std::size_t room) {
  const std::string note = "the " + stackSize(room) +
                           " of stack this run could get are too small to work on (it asks for " +
                           stackSize(kWorkStackBytes) + ")";
  return reportError(streams, "error: ", Error::OutOfMemory, std::span(&note, 1));
}

// Said after the failure when a nesting check stopped at the end of the
// stack rather than at a limit: a short stack explains the refusal.
void noteFullStack(StandardStreams& streams) {
  const WorkStack& stack = currentWorkStack();
  if (!stack.ranOut) return;
  std::string note = "note: nesting this deep does not fit in ";
  if (stack.bytes < kWorkStackBytes)
    note += "the " + stackSize(stack.bytes) + " stack this run could get (it asks for " + stackSize(kWorkStackBytes) +
            ")\n";
  else
    note += "the run's " + stackSize(stack.bytes) + " stack\n";
  streams.err.write(note);
  (void)streams.err.flush();
}

}  // namespace

int runMain(std::span<const std::string_view> arguments) {
  platform::ignoreBrokenPipes();
  platform::keepOneHeap();
  // Under a limit on the address space the stack takes a share of what the
  // limit leaves, however much of it the stack limit lets the work use, so
  // that neither more memory nor a larger stack limit gives the heap less.
  const auto stackFloor = platform::usualStackFloor(reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)));
  const auto left = platform::workAddressSpaceLeft(stackFloor);
  const std::optional<std::size_t> share =
      left ? std::optional(workStackShare(*left, platform::pageBytes())) : std::nullopt;
  StandardStreams streams;
  // Lowering and assembly turn a failed allocation into a located failure;
  // anywhere else (reading the source, rendering the listing) the run ends
  // here with its name, never with an abort.
  const std::function<int()> work = [&]() {
    platform::adoptWorkStack(share, stackFloor);
    if (const auto room = workStackRoom(); room && workStackTooSmall(*room, currentWorkStack().reserve))
      return reportSmallStack(streams, *room);
    try {
      const int status = runCommand(arguments, streams);
      if (status != 0) noteFullStack(streams);
      return status;
    } catch (const std::bad_alloc&) {
      return reportFailure(streams, Error::OutOfMemory);
    }
  };
  // Where the share cannot be had as a thread's stack a smaller one may
  // still be; the nesting checks then stop where it runs out.
  for (std::size_t bytes = share.value_or(kWorkStackBytes); bytes >= kSmallestWorkStack; bytes /= 2)
    if (const auto status = platform::runWithStack(bytes, work)) return *status;
  // Where no thread can be started at all, or its stack would be too small
  // to be worth one, the run goes on on the stack it was given.
  return work();
}

}  // namespace qovrin::main
