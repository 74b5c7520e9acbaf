#pragma once
// The files one run reads and writes, known by identity, so that no run
// writes over one of its own inputs or writes two outputs into one file.

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "main/platform_output.hpp"

namespace qovrin::main {

// A file under the name the user gave it and the role it plays in the run
// ("source", "input", "output", "listing").
struct RunFile {
  std::string_view role;
  std::string path;
  platform::FileIdentity identity;
};

// Every file the run has read so far: the sources, the project file, and
// what includes, imports, `emit.file` and the file builtins read.
class InputFiles {
 public:
  // Takes the file's identity now, while it is the file that was read; a
  // file that is gone already or cannot be told apart is left out, and a
  // file read again (a builtin in a loop) keeps its first record.
  void record(std::string_view role, std::string path);
  std::span<const RunFile> files() const noexcept { return files_; }

 private:
  std::vector<RunFile> files_;
  std::set<std::pair<std::uint64_t, std::uint64_t>> known_;  // device, inode
};

// The files the run is about to write, in writing order.
std::vector<RunFile> outputFiles(std::string_view outputPath, const std::optional<std::string>& listingPath);

// "<role> <path> is the same file as <role> <path>" for the first output
// that is an input or an earlier output; nothing when every output is new.
std::optional<std::string> findOverwrittenFile(std::span<const RunFile> outputs, std::span<const RunFile> inputs);

}  // namespace qovrin::main
