#pragma once
// Whether files that are truncated and written in place can take their new
// bytes, judged before the first of them is cut: such a file cannot be put
// back once its old contents are gone.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>

#include "main/platform.hpp"

namespace qovrin::main::platform {

// A file opened for writing and the size it is about to have. A descriptor
// below 0 stands for a write that cuts no file (a replacement, a FIFO).
struct InPlaceFile {
  int descriptor = -1;
  std::uint64_t newSize = 0;
};

struct RoomFailure {
  std::size_t index;
  FileFailure failure;
};

// What fstat and fstatvfs tell of one open file and its file system.
struct FileRoom {
  std::uint64_t device = 0;
  std::uint64_t heldBlocks = 0;       // the file's own, in units of 512 bytes
  std::uint64_t blockSize = 0;        // the file system's fragment size
  std::uint64_t totalBlocks = 0;      // none on a file system that counts none (as /proc)
  std::uint64_t freeBlocks = 0;       // the blocks kept back for root among them
  std::uint64_t availableBlocks = 0;  // what any user may take
};

// What the check learns from the system, so that a test can pose a file
// system of its own (one with blocks kept back for root, say).
struct RoomView {
  std::optional<std::uint64_t> sizeLimit;  // RLIMIT_FSIZE, nothing when unlimited
  bool privileged = false;                 // may take the blocks kept back for root
  // Nothing when it cannot be told.
  std::function<std::optional<FileRoom>(int descriptor)> fileRoom;
};

// The calling process's limit and user, and the files as the system sees them.
RoomView systemRoomView();

// The first file whose new size is over the file size limit (WriteFailed,
// EFBIG) or whose file system has too few free blocks for it and the files
// before it on the same file system (WriteFailed, ENOSPC). What cannot be
// told (a file system that reports no free space) passes.
std::expected<void, RoomFailure> checkInPlaceRoom(std::span<const InPlaceFile> files, const RoomView& view);

}  // namespace qovrin::main::platform
