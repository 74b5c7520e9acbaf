#pragma once
// Whether files that are truncated and written in place can take their new
// bytes, judged before the first of them is cut: such a file cannot be put
// back once its old contents are gone.

#include <cstddef>
#include <cstdint>
#include <expected>
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

// The first file whose new size is over the file size limit (WriteFailed,
// EFBIG) or whose file system has too few free blocks for it and the files
// before it on the same file system (WriteFailed, ENOSPC). What cannot be
// told (a file system that reports no free space) passes.
std::expected<void, RoomFailure> checkInPlaceRoom(std::span<const InPlaceFile> files);

}  // namespace qovrin::main::platform
