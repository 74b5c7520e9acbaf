#pragma once
// The progress display of one command, tied to the standard streams so that
// every flush clears the frame first. With progress off there is none.

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "main/cli.hpp"
#include "main/progress.hpp"
#include "main/stream_writer.hpp"

namespace qovrin::main {

struct StandardStreams {
  StreamWriter out{1};
  StreamWriter err{2};
};

// "<prefix><ErrorName>" on standard error, each note after it as a "note: "
// line, unless the error only says that diagnostics were printed already;
// returns the exit status 1.
int reportError(StandardStreams& streams, std::string_view prefix, Error error,
                std::span<const std::string> notes = {});

// The note that names the file a read failed on.
std::string readFailureNote(std::string_view path);

class RunDisplay {
 public:
  RunDisplay(std::string_view rootName, ProgressMode mode, StandardStreams& streams);
  RunDisplay(const RunDisplay&) = delete;
  RunDisplay& operator=(const RunDisplay&) = delete;
  ~RunDisplay();

  ProgressDisplay::NodeId start(std::string_view name);
  void end(ProgressDisplay::NodeId node);
  void finish(bool success);

 private:
  StandardStreams& streams_;
  std::unique_ptr<ProgressDisplay> display_;
};

}  // namespace qovrin::main
