#include "main/platform_input.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

namespace qovrin::main::platform {
namespace {

struct DescriptorCloser {
  void operator()(const int* fd) const noexcept { ::close(*fd); }
};

// Reads from position until the end of the file, or until length bytes when
// a length is given; a read that ends early is ReadFailed then.
Status readInto(int fd, std::string& bytes, std::uint64_t position, std::optional<std::uint64_t> length) {
  char buffer[65536];
  std::uint64_t taken = 0;
  while (!length || taken < *length) {
    std::size_t wanted = sizeof buffer;
    if (length && *length - taken < wanted) wanted = static_cast<std::size_t>(*length - taken);
    const ssize_t count = ::pread(fd, buffer, wanted, static_cast<off_t>(position + taken));
    if (count < 0) {
      if (errno == EINTR) continue;
      return fail(Error::ReadFailed);
    }
    if (count == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(count));
    taken += static_cast<std::uint64_t>(count);
  }
  if (length && taken != *length) return fail(Error::ReadFailed);
  return {};
}

std::string_view kindOf(mode_t mode) noexcept {
  if (S_ISREG(mode)) return "a file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

}  // namespace

std::optional<std::string_view> existingKind(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return kindOf(status.st_mode);
}

std::optional<std::string> unreadableCause(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    return std::generic_category().message(errno);
  }
  if (!S_ISREG(status.st_mode)) return "is not a regular file but " + std::string(kindOf(status.st_mode));
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::generic_category().message(errno);
  ::close(fd);
  return std::nullopt;
}

Result<std::string> readRegularFile(const std::string& path, const InputRead& read) {
  // Opening a FIFO for reading would wait for a writer; without blocking it
  // opens at once and the type check below turns it away.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail(Error::ReadFailed);
  const std::unique_ptr<const int, DescriptorCloser> closing(&fd);
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return fail(Error::ReadFailed);
  if (!read.contents) return std::string();
  const auto size = static_cast<std::uint64_t>(status.st_size);
  try {
    std::string bytes;
    if (read.window) {
      const InputWindow window = *read.window;
      if (window.offset > size || window.length > size - window.offset) return fail(Error::InvalidApiInteger);
      bytes.reserve(static_cast<std::size_t>(window.length));
      QOVRIN_TRY(readInto(fd, bytes, window.offset, window.length));
      return bytes;
    }
    // Sized from the file up front; reading still runs to the end of the
    // file, since some regular files (under /proc) report no size.
    if (size > 0 && size <= std::numeric_limits<std::size_t>::max()) bytes.reserve(static_cast<std::size_t>(size));
    QOVRIN_TRY(readInto(fd, bytes, 0, std::nullopt));
    return bytes;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

}  // namespace qovrin::main::platform
