#include "main/platform_input.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

namespace qovrin::main::platform {
namespace {

// Offsets past this cannot be passed to the system as a file position.
constexpr std::uint64_t kMaxPosition = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

struct DescriptorCloser {
  void operator()(const int* fd) const noexcept { ::close(*fd); }
};

// Appends what the file holds from position on, up to `wanted` bytes or its
// end, whichever comes first.
Status readRange(int fd, std::string& bytes, std::uint64_t position, std::uint64_t wanted) {
  char buffer[65536];
  std::uint64_t taken = 0;
  while (taken < wanted) {
    const auto asked = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, wanted - taken));
    const ssize_t count = ::pread(fd, buffer, asked, static_cast<off_t>(position + taken));
    if (count < 0) {
      if (errno == EINTR) continue;
      return fail(Error::ReadFailed);
    }
    if (count == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(count));
    taken += static_cast<std::uint64_t>(count);
  }
  return {};
}

Status readWindow(int fd, std::uint64_t size, const InputWindow& window, std::uint64_t limit, std::string& bytes) {
  // A file that reports no size (as under /proc) still has bytes: its window
  // is judged by what a read finds there.
  const bool sized = size > 0;
  if (sized && (window.offset > size || window.length > size - window.offset)) return fail(Error::InvalidApiInteger);
  if (window.length > limit) return fail(Error::OutputTooLarge);
  if (window.offset > kMaxPosition || window.length > kMaxPosition - window.offset)
    return fail(Error::InvalidApiInteger);
  if (sized) bytes.reserve(static_cast<std::size_t>(window.length));
  QOVRIN_TRY(readRange(fd, bytes, window.offset, window.length));
  if (bytes.size() == window.length) return {};
  return fail(sized ? Error::ReadFailed : Error::InvalidApiInteger);
}

Status readWhole(int fd, std::uint64_t size, std::uint64_t limit, std::string& bytes) {
  if (size > limit) return fail(Error::OutputTooLarge);
  if (size > 0) bytes.reserve(static_cast<std::size_t>(size));
  // Reading runs to the end of the file all the same, since a file may
  // report no size or grow while it is read; one byte past the limit is
  // enough to know it is too large.
  const std::uint64_t wanted = limit == std::numeric_limits<std::uint64_t>::max() ? limit : limit + 1;
  QOVRIN_TRY(readRange(fd, bytes, 0, wanted));
  if (bytes.size() > limit) return fail(Error::OutputTooLarge);
  return {};
}

}  // namespace

Error readFailure(int code) noexcept {
  if (code == ENOENT || code == ENOTDIR) return Error::FileNotFound;
  if (code == EACCES || code == EPERM) return Error::AccessDenied;
  return Error::ReadFailed;
}

bool isSpecialFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

Result<std::string> readRegularFile(const std::string& path, const InputRead& read) {
  // The type is known before anything is opened: opening a FIFO releases a
  // writer waiting on it, even without blocking, and opening a device can
  // act on the device.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return fail(readFailure(errno));
  if (!S_ISREG(status.st_mode)) return fail(Error::ReadFailed);
  // Without blocking all the same, should the name lead to a FIFO by now.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail(readFailure(errno));
  const std::unique_ptr<const int, DescriptorCloser> closing(&fd);
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return fail(Error::ReadFailed);
  if (!read.contents) return std::string();
  const auto size = static_cast<std::uint64_t>(status.st_size);
  try {
    std::string bytes;
    if (read.window)
      QOVRIN_TRY(readWindow(fd, size, *read.window, read.limit, bytes));
    else
      QOVRIN_TRY(readWhole(fd, size, read.limit, bytes));
    return bytes;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

}  // namespace qovrin::main::platform
