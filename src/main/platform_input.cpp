#include "main/platform_input.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <new>
#include <system_error>

namespace qovrin::main::platform {
namespace {

// Offsets past this cannot be passed to the system as a file position.
constexpr std::uint64_t kMaxPosition = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

struct DescriptorCloser {
  void operator()(const int* fd) const noexcept { ::close(*fd); }
};

Status readWindow(int fd, std::uint64_t size, const InputWindow& window, std::uint64_t limit, std::string& bytes) {
  // A file that reports no size (as under /proc) still has bytes: its window
  // is judged by what a read finds there.
  const bool sized = size > 0;
  if (sized && (window.offset > size || window.length > size - window.offset)) return fail(Error::InvalidApiInteger);
  if (window.length > limit) return fail(Error::OutputTooLarge);
  if (window.offset > kMaxPosition || window.length > kMaxPosition - window.offset)
    return fail(Error::InvalidApiInteger);
  if (sized) bytes.reserve(static_cast<std::size_t>(window.length));
  QOVRIN_TRY(appendFromFile(fd, bytes, window.offset, window.length));
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
  QOVRIN_TRY(appendFromFile(fd, bytes, 0, wanted));
  if (bytes.size() > limit) return fail(Error::OutputTooLarge);
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

Status appendFromFile(int fd, std::string& bytes, std::optional<std::uint64_t> position, std::uint64_t wanted) {
  const auto readInto = [&](char* into, std::size_t asked, std::uint64_t offset) {
    return position ? ::pread(fd, into, asked, static_cast<off_t>(*position + offset)) : ::read(fd, into, asked);
  };
  // Where the string has room the bytes are read straight into it. Where it
  // has none, a small read tells whether more is coming before the string
  // grows: a file read into storage sized to it ends without growing it.
  std::array<char, 512> probe;
  std::uint64_t taken = 0;
  while (taken < wanted) {
    const std::size_t size = bytes.size();
    ssize_t count = 0;
    if (bytes.capacity() > size) {
      const auto asked = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.capacity() - size, wanted - taken));
      bytes.resize_and_overwrite(size + asked, [&](char* data, std::size_t) {
        count = readInto(data + size, asked, taken);
        return size + static_cast<std::size_t>(std::max<ssize_t>(count, 0));
      });
    } else {
      count = readInto(probe.data(), static_cast<std::size_t>(std::min<std::uint64_t>(probe.size(), wanted - taken)),
                       taken);
      if (count > 0) bytes.append(probe.data(), static_cast<std::size_t>(count));
    }
    if (count < 0) {
      if (errno == EINTR) continue;
      return fail(Error::ReadFailed);
    }
    if (count == 0) break;
    taken += static_cast<std::uint64_t>(count);
  }
  return {};
}

std::optional<std::string_view> existingKind(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return kindOf(status.st_mode);
}

bool linksLoop(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) != 0 && errno == ELOOP;
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
