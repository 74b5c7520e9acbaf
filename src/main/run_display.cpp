#include "main/run_display.hpp"

#include <string>

#include "common/display_text.hpp"
#include "common/error.hpp"
#include "main/platform.hpp"
#include "main/platform_input.hpp"

namespace qovrin::main {

int reportError(StandardStreams& streams, std::string_view prefix, Error error, std::span<const std::string> notes) {
  if (error != Error::FrontendDiagnostics) {
    streams.err.write(prefix);
    streams.err.write(errorName(error));
    streams.err.write("\n");
    for (const std::string& note : notes) {
      std::string line = "note: ";
      appendPrintable(line, note);
      line += '\n';
      streams.err.write(line);
    }
  }
  (void)streams.err.flush();
  return 1;
}

std::string readFailureNote(std::string_view path) {
  std::string note = "'";
  note += path;
  note += "'";
  const auto kind = platform::existingKind(std::string(path));
  if (kind == "a folder") return note + " is a folder, not a file";
  if (!kind && platform::linksLoop(std::string(path)))
    return note + " is a symbolic link that never reaches a file: its links go round in a loop (or past 40 links)";
  if (!kind && platform::namePresent(std::string(path)).value_or(false))
    return note + " is a symbolic link that leads nowhere";
  if (kind == "a device" || kind == "a socket") return note + " is " + std::string(*kind) + ", not a file or a pipe";
  return "while reading " + note;
}

RunDisplay::RunDisplay(std::string_view rootName, ProgressMode mode, StandardStreams& streams) : streams_(streams) {
  if (mode == ProgressMode::off) return;
  display_ = std::make_unique<ProgressDisplay>(ProgressDisplay::Settings{std::string(rootName), 3});
  ProgressDisplay* display = display_.get();
  for (StreamWriter* writer : {&streams.out, &streams.err})
    writer->setFlushHooks([display] { display->pauseForOutput(); }, [display] { display->resumeAfterOutput(); });
}

RunDisplay::~RunDisplay() {
  for (StreamWriter* writer : {&streams_.out, &streams_.err}) writer->setFlushHooks({}, {});
}

ProgressDisplay::NodeId RunDisplay::start(std::string_view name) {
  return display_ ? display_->startNode(name) : ProgressDisplay::kNone;
}

void RunDisplay::end(ProgressDisplay::NodeId node) {
  if (display_) display_->endNode(node);
}

void RunDisplay::finish(bool success) {
  if (display_) display_->setStatus(success ? ProgressDisplay::Status::success : ProgressDisplay::Status::failure);
}

}  // namespace qovrin::main
