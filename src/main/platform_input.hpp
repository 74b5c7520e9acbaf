#pragma once
// Reading the files a source names: only regular files, and only as much of
// them as the caller asks for, so that a device, a FIFO or a socket can
// neither block the run nor feed it without end.

#include <cstdint>
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
};

// The bytes the read asks for (empty when it asks for none). ReadFailed when
// the file cannot be opened, is anything but a regular file (after following
// links), fails to read or shrank while it was read; InvalidApiInteger for a
// window that does not lie inside the file; OutOfMemory.
Result<std::string> readRegularFile(const std::string& path, const InputRead& read);

// What is at path, following links: "a file", "a folder", "a FIFO", "a
// device" or "a socket"; nothing when there is nothing (or it cannot be told).
std::optional<std::string_view> existingKind(const std::string& path);

// Why readRegularFile turns away a path that is there: "is not a regular
// file (a folder)" and the like, or the system's cause of a failed open
// ("Permission denied"). Nothing when there is no such file, or it reads.
std::optional<std::string> unreadableCause(const std::string& path);

}  // namespace qovrin::main::platform
