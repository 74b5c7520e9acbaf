#include "main/platform_output.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <vector>

#include "main/platform.hpp"

namespace qovrin::main::platform {
namespace {

constexpr std::array kTerminationSignals{SIGINT, SIGTERM};
// Linux gives up on a chain of links after this many, and so do we.
constexpr int kMaxLinkHops = 40;

// The one piece of process-wide state: what the termination handler needs to
// remove the temporary file of the replace in progress. It is filled while
// the signals are blocked and `armed` is set last.
struct PendingRemoval {
  volatile std::sig_atomic_t armed;
  int directory;
  char name[NAME_MAX + 1];
};
PendingRemoval pendingRemoval{};

// Stays installed after the replace (then with nothing armed). It runs with
// the default action already restored (SA_RESETHAND), so raising the signal
// again ends the process the way the signal meant to.
void removeTemporaryAndStop(int signal) {
  if (pendingRemoval.armed != 0) ::unlinkat(pendingRemoval.directory, pendingRemoval.name, 0);
  ::raise(signal);
}

sigset_t terminationSet() noexcept {
  sigset_t set;
  ::sigemptyset(&set);
  for (const int signal : kTerminationSignals) ::sigaddset(&set, signal);
  return set;
}

// Holds SIGINT and SIGTERM back while the temporary file and the record of
// it disagree; a signal that came in meanwhile is delivered afterwards.
class SignalsHeld {
 public:
  SignalsHeld() noexcept {
    const sigset_t set = terminationSet();
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
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
  return FileFailure{error, std::generic_category().message(code)};
}

namespace {

std::unexpected<FileFailure> failWith(int code) { return std::unexpected(fileFailure(code)); }

// Where the path's last component leads once every symbolic link in that
// place is followed: the file the kernel would open for it.
std::expected<std::string, FileFailure> followLinks(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    std::vector<char> buffer(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : PATH_MAX) + 1);
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return failWith(errno);
    if (static_cast<std::size_t>(length) == buffer.size()) return failWith(ENAMETOOLONG);
    const std::string link(buffer.data(), static_cast<std::size_t>(length));
    const std::size_t separator = path.rfind('/');
    if (link.starts_with('/') || separator == std::string::npos)
      path = link;
    else
      path = path.substr(0, separator + 1) + link;
  }
  return failWith(ELOOP);
}

std::optional<std::string> resolvedDirectory(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

// The absolute form of a path that names no file yet: the longest leading
// part that exists is resolved, the rest is applied by its words.
std::string normalisedMissingPath(const std::string& path) {
  std::string absolute = path;
  if (!path.starts_with('/')) absolute = currentDirectory().value_or("") + "/" + path;
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= absolute.size();) {
    const std::size_t end = std::min(absolute.find('/', start), absolute.size());
    if (end > start) parts.push_back(absolute.substr(start, end - start));
    start = end + 1;
  }
  std::string base = "/";
  std::size_t used = 0;
  for (std::size_t count = parts.size(); count > 0; --count) {
    std::string prefix;
    for (std::size_t i = 0; i < count; ++i) prefix += "/" + parts[i];
    if (auto resolved = resolvedDirectory(prefix)) {
      base = std::move(*resolved);
      used = count;
      break;
    }
  }
  for (std::size_t i = used; i < parts.size(); ++i) {
    if (parts[i] == ".") continue;
    if (parts[i] == "..") {
      const std::size_t separator = base.rfind('/');
      base.resize(separator == 0 ? 1 : separator);
      continue;
    }
    if (!base.ends_with('/')) base += '/';
    base += parts[i];
  }
  return base;
}

// ".tmp-" and six characters.
constexpr std::size_t kSuffixLength = 11;

std::string temporarySuffix(unsigned attempt) {
  static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t state = static_cast<std::uint64_t>(monotonicNanoseconds()) ^
                        (static_cast<std::uint64_t>(::getpid()) << 32) ^ (attempt * 0x9E3779B97F4A7C15ull);
  state = (state ^ (state >> 30)) * 0xBF58476D1CE4E5B9ull;
  state = (state ^ (state >> 27)) * 0x94D049BB133111EBull;
  state ^= state >> 31;
  std::string suffix = ".tmp-";
  while (suffix.size() < kSuffixLength) {
    suffix += kAlphabet[state % kAlphabet.size()];
    state /= kAlphabet.size();
  }
  return suffix;
}

FileStatus writeInPlace(const std::string& target, std::string_view bytes) {
  const int file = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
  if (file < 0) return failWith(errno);
  if (!writeAll(file, bytes)) {
    const int code = errno;
    ::close(file);
    return failWith(code);
  }
  if (::close(file) != 0) return failWith(errno);
  return {};
}

FileStatus replaceWhole(const std::string& target, std::string_view bytes, const std::optional<Ownership>& ownership) {
  ReplacementFile replacement;
  if (auto opened = replacement.open(target, ownership); !opened) return opened;
  if (auto written = replacement.write(bytes); !written) return written;
  return replacement.commit();
}

}  // namespace

std::optional<FileIdentity> fileIdentity(const std::string& path) {
  const auto target = followLinks(path);
  if (!target) return std::nullopt;
  const auto existing = [](const std::string& path) -> std::optional<FileIdentity> {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity{true, static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino), {}};
  };
  if (auto found = existing(*target)) return found;
  if (errno != ENOENT) return std::nullopt;
  // "new/../x" names "x" once the writer has made the folder "new".
  std::string normalised = normalisedMissingPath(*target);
  if (auto found = existing(normalised)) return found;
  return FileIdentity{false, 0, 0, std::move(normalised)};
}

FileStatus makeDirectories(const std::string& path) {
  if (path.empty()) return {};
  std::size_t position = 0;
  while (position != std::string::npos) {
    position = path.find('/', position + 1);
    const std::string prefix = path.substr(0, position);
    if (prefix.empty() || prefix.back() == '/') continue;
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return failWith(errno);
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return failWith(errno);
  if (!S_ISDIR(status.st_mode)) return failWith(ENOTDIR);
  return {};
}

FileStatus writeFileThrough(const std::string& path, std::string_view bytes) {
  if (path.empty()) return failWith(ENOENT);
  const auto target = followLinks(path);
  if (!target) return std::unexpected(target.error());
  const std::size_t separator = target->find_last_of("/\\");
  if (separator != std::string::npos && separator > 0) {
    if (auto made = makeDirectories(target->substr(0, separator)); !made) return made;
  }

  struct stat status {};
  if (::lstat(target->c_str(), &status) != 0) {
    if (errno != ENOENT) return failWith(errno);
    return replaceWhole(*target, bytes, std::nullopt);
  }
  if (S_ISDIR(status.st_mode)) return failWith(EISDIR);
  if (S_ISREG(status.st_mode) && status.st_nlink == 1) {
    auto replaced = replaceWhole(*target, bytes, Ownership{status.st_mode, status.st_uid, status.st_gid});
    // A file we may write but not replace (a folder we cannot write to, an
    // owner we cannot give) is still ours to overwrite.
    if (replaced || replaced.error().error != Error::AccessDenied) return replaced;
  }
  return writeInPlace(*target, bytes);
}

ReplacementFile::~ReplacementFile() { discard(); }

FileStatus ReplacementFile::open(const std::string& target, const std::optional<Ownership>& ownership) {
  const std::size_t separator = target.rfind('/');
  const std::string directory = separator == std::string::npos ? "."
                                : separator == 0               ? "/"
                                                               : target.substr(0, separator);
  targetName_ = separator == std::string::npos ? target : target.substr(separator + 1);
  if (targetName_.empty()) return failWith(EISDIR);
  directory_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory_ < 0) return failWith(errno);

  long nameLimit = ::fpathconf(directory_, _PC_NAME_MAX);
  if (nameLimit <= 0 || nameLimit > NAME_MAX) nameLimit = NAME_MAX;
  const std::size_t limit = static_cast<std::size_t>(nameLimit);
  const std::size_t kept = std::min(targetName_.size(), limit > kSuffixLength ? limit - kSuffixLength : 0);

  SignalsHeld held;
  for (const int signal : kTerminationSignals) {
    struct sigaction previous {};
    ::sigaction(signal, nullptr, &previous);
    // A signal the caller chose to ignore must stay ignored.
    if (previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = &removeTemporaryAndStop;
    action.sa_flags = SA_RESETHAND;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
  for (unsigned attempt = 0; file_ < 0; ++attempt) {
    temporaryName_ = targetName_.substr(0, kept) + temporarySuffix(attempt);
    file_ =
        ::openat(directory_, temporaryName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownership ? 0600 : 0666);
    if (file_ < 0 && (errno != EEXIST || attempt == 100)) return failWith(errno);
  }
  pendingRemoval.directory = directory_;
  temporaryName_.copy(pendingRemoval.name, temporaryName_.size());
  pendingRemoval.name[temporaryName_.size()] = '\0';
  std::atomic_signal_fence(std::memory_order_seq_cst);
  pendingRemoval.armed = 1;
  registered_ = true;

  if (ownership) {
    // The owner first: changing it may clear set-id bits that the mode then restores.
    if (::fchown(file_, ownership->owner, ownership->group) != 0 || ::fchmod(file_, ownership->mode & 07777) != 0)
      return failWith(errno);
  }
  return {};
}

FileStatus ReplacementFile::write(std::string_view bytes) {
  if (!writeAll(file_, bytes)) return failWith(errno);
  return {};
}

FileStatus ReplacementFile::commit() {
  const int file = file_;
  file_ = -1;
  if (::close(file) != 0) return failWith(errno);
  SignalsHeld held;
  if (::renameat(directory_, temporaryName_.c_str(), directory_, targetName_.c_str()) != 0) return failWith(errno);
  pendingRemoval.armed = 0;
  registered_ = false;
  return {};
}

void ReplacementFile::discard() noexcept {
  SignalsHeld held;
  if (file_ >= 0) ::close(file_);
  file_ = -1;
  if (registered_) {
    ::unlinkat(directory_, temporaryName_.c_str(), 0);
    pendingRemoval.armed = 0;
    registered_ = false;
  }
  if (directory_ >= 0) ::close(directory_);
  directory_ = -1;
}

void blockTerminationSignals() noexcept {
  const sigset_t set = terminationSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace qovrin::main::platform
