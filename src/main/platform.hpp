#pragma once
// The driver's only door to the operating system: files, directories, paths,
// the clock and the terminal. Everything above it works on strings and
// results, so it can be tested without touching the machine's state.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"

namespace qovrin::main::platform {

// Real paths longer than this are treated as unknown, as the include search
// and the source identity promise.
inline constexpr std::size_t kPathBufferSize = 1024;

// A failed file operation: the program-wide name, the system's own words
// for the cause ("No space left on device") and its error number.
struct FileFailure {
  Error error;
  std::string cause;
  int code = 0;
};

using FileStatus = std::expected<void, FileFailure>;

// The failure for a system error code: FileNotFound, AccessDenied,
// PathAlreadyExists (something already there: a folder where a file should
// go), otherwise WriteFailed.
FileFailure fileFailure(int code);

// The whole file or pipe, byte for byte. FileNotFound / AccessDenied when it
// cannot be opened, ReadFailed when it is a device or a socket (refused before
// it is opened) or reading fails (a directory, an I/O error).
Result<std::string> readWholeFile(const std::string& path);

// Creates the file (mode 0666 under the umask) and writes every byte; an
// existing file is PathAlreadyExists when `exclusive`, else truncated.
Status createFile(const std::string& path, std::string_view bytes, bool exclusive);

// Whether anything has this name, a symbolic link counted as itself even
// when it leads nowhere; nothing is opened, so a FIFO there holds no one
// up. False when a folder on the way is missing or is a file; an error when
// it cannot be told.
Result<bool> namePresent(const std::string& path);

// Creates the directory and every missing parent; existing ones are fine.
FileStatus makeDirectories(const std::string& path);
// The same, for callers that need only the program-wide name of a failure.
Status createDirectories(const std::string& path);

// The resolved real path, or nothing when it cannot be resolved or does not
// fit kPathBufferSize.
std::optional<std::string> realPath(const std::string& path);
// The length of the resolved real path whatever it is; nothing when the path
// cannot be resolved.
std::optional<std::size_t> realPathLength(const std::string& path);

std::optional<std::string> currentDirectory();
// Why currentDirectory gave nothing: NameTooLong for a working folder whose
// path does not fit kPathBufferSize, else the system's failure.
FileFailure currentDirectoryFailure();
std::optional<std::string> executableDirectory();

bool isDirectory(const std::string& path);
// Every entry name except "." and "..", unsorted; nothing when the path
// cannot be opened or read as a directory.
std::optional<std::vector<std::string>> directoryEntries(const std::string& path);

// Nanoseconds of a clock that never goes back; 0 when it cannot be read.
std::int64_t monotonicNanoseconds() noexcept;

bool isTerminal(int fd) noexcept;

// Writes every byte to the descriptor; false on a failure.
bool writeAll(int fd, std::string_view bytes) noexcept;

// A closed reader of our output must fail a write, not end the process.
void ignoreBrokenPipes() noexcept;

}  // namespace qovrin::main::platform
