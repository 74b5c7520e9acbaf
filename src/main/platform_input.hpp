#pragma once
// Reading the files a source or the project file names: only regular files,
// known as such before they are opened, and only as much of them as the
// caller asks for, so that a device, a FIFO or a socket can neither block the
// run nor feed it without end, and a file too large is refused by its size.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "common/error.hpp"

namespace qovrin::main::platform {

struct InputWindow {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// What a read takes from the file: all of it, one window, or nothing (the
// file is only checked to be a readable regular file).
struct InputRead {
  std::optional<InputWindow> window;
  bool contents = true;
  // The most bytes the caller can hold; more is OutputTooLarge.
  std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
};

// The program-wide name of a failed open or stat: FileNotFound,
// AccessDenied, otherwise ReadFailed.
Error readFailure(int code) noexcept;

// Whether the path leads to a device, a FIFO or a socket: something that is
// there but is neither a regular file nor a folder.
bool isSpecialFile(const std::string& path);

// The bytes the read asks for (empty when it asks for none). FileNotFound /
// AccessDenied when the file cannot be reached; ReadFailed when it is
// anything but a regular file (after following links), fails to read or
// shrank while it was read; InvalidApiInteger for a window that does not lie
// inside the file; OutputTooLarge for a file or window past the limit, told
// from the size the file reports before any of it is read; OutOfMemory. A
// file that reports no size (as under /proc) is what a read finds in it.
Result<std::string> readRegularFile(const std::string& path, const InputRead& read);

// Appends what the descriptor gives, up to `wanted` bytes or its end: read
// at `position` on when given (pread), else from where the descriptor stands.
// ReadFailed when a read fails; OutOfMemory as a throw of std::bad_alloc.
Status appendFromFile(int fd, std::string& bytes, std::optional<std::uint64_t> position, std::uint64_t wanted);

// What is at path, following links: "a file", "a folder", "a FIFO", "a
// device" or "a socket"; nothing when there is nothing (or it cannot be told).
std::optional<std::string_view> existingKind(const std::string& path);

// Whether following the links of path goes round (or past the system's
// limit of links) without reaching anything.
bool linksLoop(const std::string& path);

// Why readRegularFile turns away a path that is there: "is not a regular
// file (a folder)" and the like, or the system's cause of a failed open
// ("Permission denied"). Nothing when there is no such file, or it reads.
std::optional<std::string> unreadableCause(const std::string& path);

}  // namespace qovrin::main::platform
