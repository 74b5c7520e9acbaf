#include "main/platform.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <system_error>

#include "main/platform_input.hpp"

namespace qovrin::main::platform {
namespace {

Error openError(int code) { return fileFailure(code).error; }

// A file or a pipe, or a folder, whose read fails by itself: not a device or
// a socket.
bool endsWhenRead(mode_t mode) noexcept { return S_ISREG(mode) || S_ISFIFO(mode) || S_ISDIR(mode); }

class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const noexcept { return fd_; }
  // Closing can report a delayed write error, so the writer asks for it.
  bool close() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

}  // namespace

FileFailure fileFailure(int code) {
  Error error = Error::WriteFailed;
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      error = Error::FileNotFound;
      break;
    case EACCES:
    case EPERM:
      error = Error::AccessDenied;
      break;
    case EEXIST:
    case EISDIR:
      error = Error::PathAlreadyExists;
      break;
    default:
      break;
  }
  return FileFailure{error, std::generic_category().message(code), code};
}

Result<std::string> readWholeFile(const std::string& path) {
  // A device is known before it is opened, since opening one can act on it,
  // and refused, since reading one (as /dev/zero) need never end; a pipe
  // ends when its writer is done.
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && !endsWhenRead(status.st_mode)) return fail(Error::ReadFailed);
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return fail(readFailure(errno));
  if (::fstat(file.get(), &status) != 0 || !endsWhenRead(status.st_mode)) return fail(Error::ReadFailed);
  // Sized from the file up front, so that a large source is not copied at
  // every doubling while it is read; reading still runs to the end of file.
  std::string bytes;
  if (S_ISREG(status.st_mode) && status.st_size > 0) bytes.reserve(static_cast<std::size_t>(status.st_size));
  QOVRIN_TRY(appendFromFile(file.get(), bytes, std::nullopt, std::numeric_limits<std::uint64_t>::max()));
  return bytes;
}

FileStatus makeDirectories(const std::string& path) {
  if (path.empty()) return {};
  std::size_t position = 0;
  while (position != std::string::npos) {
    position = path.find('/', position + 1);
    const std::string prefix = path.substr(0, position);
    if (prefix.empty() || prefix.back() == '/') continue;
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return std::unexpected(fileFailure(errno));
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::unexpected(fileFailure(errno));
  if (!S_ISDIR(status.st_mode)) return std::unexpected(fileFailure(ENOTDIR));
  return {};
}

Status createDirectories(const std::string& path) {
  if (auto made = makeDirectories(path); !made) return fail(made.error().error);
  return {};
}

Status createFile(const std::string& path, std::string_view bytes, bool exclusive) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  Descriptor file(::open(path.c_str(), flags, 0666));
  if (file.get() < 0) return fail(openError(errno));
  if (!writeAll(file.get(), bytes) || !file.close()) return fail(Error::WriteFailed);
  return {};
}

Result<bool> namePresent(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) return true;
  if (errno == ENOENT || errno == ENOTDIR) return false;
  return fail(openError(errno));
}

std::optional<std::string> realPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::nullopt;
  std::string text(resolved.get());
  if (text.size() >= kPathBufferSize) return std::nullopt;
  return text;
}

std::optional<std::size_t> realPathLength(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::nullopt;
  return std::string_view(resolved.get()).size();
}

std::optional<std::string> currentDirectory() {
  char buffer[kPathBufferSize];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return std::nullopt;
  return std::string(buffer);
}

FileFailure currentDirectoryFailure() {
  const std::unique_ptr<char, decltype(&std::free)> whole(::getcwd(nullptr, 0), &std::free);
  if (whole) {
    const std::size_t length = std::string_view(whole.get()).size();
    return {Error::NameTooLong,
            "the working folder's path has " + std::to_string(length) + " bytes, more than the " +
                std::to_string(kPathBufferSize - 1) + " that include search can hold; run qovrin from a shorter path",
            ENAMETOOLONG};
  }
  const int code = errno;
  return {readFailure(code), "the working folder cannot be found: " + std::generic_category().message(code), code};
}

std::optional<std::string> executableDirectory() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::nullopt;
  std::string path(buffer, static_cast<std::size_t>(length));
  const std::size_t separator = path.rfind('/');
  if (separator == std::string::npos) return std::nullopt;
  return separator == 0 ? std::string("/") : path.substr(0, separator);
}

bool isDirectory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::optional<std::vector<std::string>> directoryEntries(const std::string& path) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  if (errno != 0) return std::nullopt;
  return names;
}

std::int64_t monotonicNanoseconds() noexcept {
  timespec now{};
  if (::clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool isTerminal(int fd) noexcept { return ::isatty(fd) == 1; }

bool writeAll(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

void ignoreBrokenPipes() noexcept { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace qovrin::main::platform
