#include "main/platform_output.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <optional>
#include <vector>

#include "main/platform.hpp"
#include "main/platform_room.hpp"

namespace qovrin::main::platform {
namespace {

// The signals that end a run by default as a request to stop: from a user,
// a batch system, a timer or the kernel's limit on CPU time. Those that tell
// of a fault of the run itself (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT,
// SIGTRAP, SIGSYS) keep their default, and so do SIGPIPE and SIGXFSZ, which
// the writes turn into errors while they run. The real-time signals, whose
// range is known only at run time, join them in terminationSet.
constexpr std::array kTerminationSignals{SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGALRM, SIGUSR1,  SIGUSR2,
                                         SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,   SIGPWR,  SIGSTKFLT};
// Linux gives up on a chain of links after this many, and so do we.
constexpr int kMaxLinkHops = 40;

}  // namespace

// What the termination handler needs to remove one temporary file. It is
// filled while the signals are blocked and `armed` is set last.
struct PendingRemoval {
  volatile std::sig_atomic_t armed;
  int directory;
  char name[NAME_MAX + 1];
};

namespace {

// The one piece of process-wide state: the temporary files of the replaces
// in progress, an output's and its listing's.
std::array<PendingRemoval, 2> pendingRemovals{};

// Stays installed after the replace (then with nothing armed). It runs with
// the default action already restored (SA_RESETHAND), so raising the signal
// again ends the process the way the signal meant to.
void removeTemporaryAndStop(int signal) {
  for (const PendingRemoval& pending : pendingRemovals)
    if (pending.armed != 0) ::unlinkat(pending.directory, pending.name, 0);
  ::raise(signal);
}

sigset_t terminationSet() noexcept {
  sigset_t set;
  ::sigemptyset(&set);
  for (const int signal : kTerminationSignals) ::sigaddset(&set, signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) ::sigaddset(&set, signal);
  return set;
}

// Sends the termination signals that end the run by default to the handler
// that removes the temporary files first. One the caller ignores or handles
// itself stays so.
void handleTerminationSignals() noexcept {
  const sigset_t set = terminationSet();
  for (int signal = 1; signal < NSIG; ++signal) {
    if (::sigismember(&set, signal) != 1) continue;
    struct sigaction previous {};
    ::sigaction(signal, nullptr, &previous);
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != &removeTemporaryAndStop) continue;
    struct sigaction action {};
    action.sa_handler = &removeTemporaryAndStop;
    action.sa_flags = SA_RESETHAND;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

// Holds signals back (the termination signals, or every one that can be)
// while the temporary files and the record of them disagree, or while an
// output and its listing are renamed; a signal that came in meanwhile is
// delivered afterwards.
class SignalsHeld {
 public:
  SignalsHeld() noexcept : SignalsHeld(terminationSet()) {}
  explicit SignalsHeld(const sigset_t& set) noexcept { ::pthread_sigmask(SIG_BLOCK, &set, &previous_); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

std::unexpected<FileFailure> failWith(int code) { return std::unexpected(fileFailure(code)); }

// The failure errno holds, with the file closed after it.
std::unexpected<FileFailure> failClosing(int file) {
  const int code = errno;
  ::close(file);
  return failWith(code);
}

std::expected<std::string, FileFailure> linkText(const std::string& path, const struct stat& status) {
  // Links under /proc report no size.
  std::vector<char> buffer(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : PATH_MAX) + 1);
  const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 0) return failWith(errno);
  if (static_cast<std::size_t>(length) == buffer.size()) return failWith(ENAMETOOLONG);
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

// Puts the components of `text` on the stack so that its first one is taken next.
void pushComponents(std::vector<std::string>& pending, std::string_view text) {
  std::size_t end = text.size();
  while (end > 0) {
    const std::size_t separator = text.rfind('/', end - 1);
    const std::size_t start = separator == std::string_view::npos ? 0 : separator + 1;
    if (end > start) pending.emplace_back(text.substr(start, end - start));
    if (separator == std::string_view::npos) break;
    end = separator;
  }
}

bool onProcFileSystem(const std::string& directory) {
  struct statfs status {};
  return ::statfs(directory.empty() ? "/" : directory.c_str(), &status) == 0 && status.f_type == PROC_SUPER_MAGIC;
}

// A path that ends in a folder ("out/", "out/.") can name no file to create.
bool namesFolder(std::string_view path) {
  const std::string_view last = path.substr(path.rfind('/') + 1);
  return last.empty() || last == "." || last == "..";
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

FileIdentity identityOf(const struct stat& status) {
  return FileIdentity{true, static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino), {}};
}

// Where a path leads when the kernel walks it, every missing folder on the
// way taken as made: the one place both the writer and the overwrite guard
// go by.
struct WalkedPath {
  std::string path;          // absolute, without links, "." or ".."
  bool exists = false;       // every component was there
  bool throughProc = false;  // a link on the way is one kept by /proc
};

std::expected<WalkedPath, FileFailure> walkPath(const std::string& path) {
  WalkedPath walked;
  // The part found so far, without a trailing '/' (empty for the root), and
  // the folders below it that are still to be made.
  std::string& found = walked.path;
  std::vector<std::string> missing;
  if (!path.starts_with('/')) {
    auto current = currentDirectory();
    if (!current) return failWith(errno);
    found = *current == "/" ? std::string() : std::move(*current);
  }
  std::vector<std::string> pending;
  pushComponents(pending, path);
  int hops = 0;
  while (!pending.empty()) {
    std::string name = std::move(pending.back());
    pending.pop_back();
    if (name == ".") continue;
    if (name == "..") {
      // A folder found has no links left in it, so its parent is the one the kernel takes.
      if (!missing.empty())
        missing.pop_back();
      else
        found.resize(std::min(found.size(), found.rfind('/')));
      continue;
    }
    if (!missing.empty()) {
      missing.push_back(std::move(name));
      continue;
    }
    std::string candidate = found + "/" + name;
    struct stat status {};
    if (::lstat(candidate.c_str(), &status) != 0) {
      if (errno != ENOENT) return failWith(errno);
      missing.push_back(std::move(name));
      continue;
    }
    if (!S_ISLNK(status.st_mode)) {
      found = std::move(candidate);
      continue;
    }
    if (++hops > kMaxLinkHops) return failWith(ELOOP);
    const auto link = linkText(candidate, status);
    if (!link) return std::unexpected(link.error());
    if (onProcFileSystem(found)) walked.throughProc = true;
    if (link->starts_with('/')) found.clear();
    pushComponents(pending, *link);
  }
  walked.exists = missing.empty();
  for (const std::string& name : missing) found += "/" + name;
  if (found.empty()) found = "/";
  return walked;
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

// Writes the bytes into the open file, already cut, and closes it in every
// case. Writing clears the set-id bits of a file whose writer lacks the
// privilege; with `mode` an owner puts them back, another user's file keeps
// the loss.
FileStatus writeOpenFile(int file, std::string_view bytes, std::optional<mode_t> mode = std::nullopt) {
  if (!writeAll(file, bytes)) return failClosing(file);
  struct stat written {};
  if (mode && ::fstat(file, &written) == 0 && (written.st_mode & 07777) != *mode) (void)::fchmod(file, *mode);
  if (::close(file) != 0) return failWith(errno);
  return {};
}

FileStatus writeBytesInPlace(const std::string& target, std::string_view bytes) {
  const int file = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
  if (file < 0) return failWith(errno);
  return writeOpenFile(file, bytes);
}

// A regular file mounted over its name (a bind mount) lies on another mount
// than the folder that holds the name, and cannot be renamed over.
bool mountedOverItsName(const std::string& path) {
  const std::size_t separator = path.rfind('/');
  if (separator == std::string::npos) return false;
  const std::string folder = separator == 0 ? "/" : path.substr(0, separator);
  struct statx file {};
  struct statx holder {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &file) != 0 ||
      ::statx(AT_FDCWD, folder.c_str(), 0, STATX_MNT_ID, &holder) != 0)
    return false;
  if ((file.stx_mask & holder.stx_mask & STATX_MNT_ID) == 0) return false;
  return file.stx_mnt_id != holder.stx_mnt_id;
}

// Over the file size limit a write fails with EFBIG instead of ending the
// process, so the replacement is removed and the failure reported.
class FileSizeSignalIgnored {
 public:
  FileSizeSignalIgnored() noexcept {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, &previous_);
  }
  FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
  FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;
  ~FileSizeSignalIgnored() { ::sigaction(SIGXFSZ, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

}  // namespace

// The replacement made beside `target`, still empty.
FileStatus PreparedWrite::prepareReplacement(const std::string& target, const std::optional<Ownership>& ownership) {
  auto replacement = std::make_unique<ReplacementFile>();
  if (auto opened = replacement->open(target, ownership); !opened) return opened;
  replacement_ = std::move(replacement);
  return {};
}

// `path` names the existing file `status` describes, through whatever links.
FileStatus PreparedWrite::prepareExisting(const std::string& path, const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return failWith(EISDIR);
  path_ = path;
  if (!S_ISREG(status.st_mode) || status.st_nlink != 1) return prepareInPlace(status);
  // A file we may not write to is not ours to replace either, though its
  // folder would allow the rename.
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM))
    return failWith(errno);
  // The replacement goes where the path's own words lead. A link kept by
  // /proc names an open file (our own standard output, say) whose holder
  // would be left with the old one, so that file is written in place.
  const auto walked = walkPath(path);
  struct stat named {};
  if (walked && walked->exists && !walked->throughProc && ::stat(walked->path.c_str(), &named) == 0 &&
      sameFile(named, status) && !mountedOverItsName(walked->path)) {
    auto prepared = prepareReplacement(walked->path, Ownership{status.st_mode, status.st_uid, status.st_gid});
    // A file we may write but not replace (a folder we cannot write to, an
    // owner we cannot give) is still ours to overwrite.
    if (prepared || prepared.error().error != Error::AccessDenied) return prepared;
  }
  return prepareInPlace(status);
}

FileStatus PreparedWrite::prepareInPlace(const struct stat& status) {
  inPlace_ = true;
  inPlaceMode_ = status.st_mode & 07777;
  // A FIFO or a device is opened only when its turn comes: opening a FIFO
  // waits for its reader, who may be waiting for an earlier file of the run,
  // and opening a device can act on it.
  if (!S_ISREG(status.st_mode)) {
    if (::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0) return failWith(errno);
    return {};
  }
  // Without blocking all the same, should the name lead to a FIFO by now.
  inPlaceFile_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (inPlaceFile_ < 0) return failWith(errno);
  struct stat opened {};
  if (::fstat(inPlaceFile_, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(inPlaceFile_);
    inPlaceFile_ = -1;
  } else if (const int flags = ::fcntl(inPlaceFile_, F_GETFL); flags >= 0) {
    ::fcntl(inPlaceFile_, F_SETFL, flags & ~O_NONBLOCK);
  }
  return {};
}

FileStatus PreparedWrite::prepare(const std::string& path, std::string_view bytes) {
  bytes_ = bytes;
  if (path.empty()) return failWith(ENOENT);
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) return prepareExisting(path, status);
  if (errno != ENOENT) return failWith(errno);
  const auto walked = walkPath(path);
  if (!walked) return std::unexpected(walked.error());
  // Found only across folders still to be made ("new/../x.bin"): the file
  // is there already, and making those folders would change nothing.
  if (walked->exists) {
    if (::stat(walked->path.c_str(), &status) != 0) return failWith(errno);
    return prepareExisting(walked->path, status);
  }
  // Nothing is there, so nothing already exists: the path itself is amiss.
  if (namesFolder(path))
    return std::unexpected(FileFailure{Error::WriteFailed,
                                       "the path names a folder (it ends in '/', '.' or '..'), which does not exist; "
                                       "the output needs the name of a file",
                                       EISDIR});
  if (const std::size_t separator = walked->path.rfind('/'); separator > 0) {
    const std::string folder = walked->path.substr(0, separator);
    // The folders still missing, known now so that a failed run can take away what it made.
    std::vector<std::string> missing;
    struct stat found {};
    for (std::string above = folder; !above.empty() && ::stat(above.c_str(), &found) != 0 && errno == ENOENT;
         above.resize(above.rfind('/')))
      missing.push_back(above);
    auto made = makeDirectories(folder);
    madeFolders_ = std::move(missing);
    if (!made) return made;
  }
  path_ = walked->path;
  return prepareReplacement(walked->path, std::nullopt);
}

PreparedWrite::~PreparedWrite() {
  if (inPlaceFile_ >= 0) ::close(inPlaceFile_);
  replacement_.reset();
  // A folder that is not empty holds what someone else put there, and stays.
  for (const std::string& folder : madeFolders_) ::rmdir(folder.c_str());
}

FileStatus PreparedWrite::writeAside() {
  if (!replacement_) return {};
  const FileSizeSignalIgnored ignoring;
  return replacement_->write(bytes_);
}

FileStatus PreparedWrite::writeInPlace() {
  if (!inPlace_) return {};
  const FileSizeSignalIgnored ignoring;
  if (inPlaceFile_ < 0) return writeBytesInPlace(path_, bytes_);
  const int file = inPlaceFile_;
  inPlaceFile_ = -1;
  if (::ftruncate(file, 0) != 0) return failClosing(file);
  return writeOpenFile(file, bytes_, inPlaceMode_);
}

FileStatus PreparedWrite::replace() {
  if (!replacement_) return {};
  auto committed = replacement_->commit();
  // A file mounted over its name cannot be renamed over; it is still ours to overwrite.
  if (!committed && committed.error().code == EBUSY) {
    const FileSizeSignalIgnored ignoring;
    return writeBytesInPlace(path_, bytes_);
  }
  return committed;
}

std::expected<void, WriteSetFailure> finishWrites(std::span<PreparedWrite* const> writes, const FinishHooks& hooks) {
  std::vector<InPlaceFile> cut;
  cut.reserve(writes.size());
  for (const PreparedWrite* write : writes) cut.push_back({write->inPlaceFile_, write->bytes_.size()});
  if (auto room = checkInPlaceRoom(cut, hooks.room ? *hooks.room : systemRoomView()); !room)
    return std::unexpected(WriteSetFailure{room.error().index, std::move(room.error().failure)});
  // From the first regular file cut until the last rename a termination
  // signal waits, so that it finds every file old or whole and new, with its
  // mode put back. A FIFO or a device is written without it: its reader may
  // never come, and what it took already cannot be taken back.
  std::optional<SignalsHeld> terminationHeld;
  for (std::size_t index = 0; index < writes.size(); ++index) {
    PreparedWrite& write = *writes[index];
    if (write.inPlaceFile_ >= 0 && !terminationHeld)
      terminationHeld.emplace();
    else if (write.inPlace_ && write.inPlaceFile_ < 0)
      terminationHeld.reset();
    if (auto written = write.writeInPlace(); !written) return std::unexpected(WriteSetFailure{index, written.error()});
  }
  sigset_t every;
  ::sigfillset(&every);
  const SignalsHeld held(every);
  for (std::size_t index = 0; index < writes.size(); ++index) {
    if (auto replaced = writes[index]->replace(); !replaced)
      return std::unexpected(WriteSetFailure{index, replaced.error()});
    writes[index]->madeFolders_.clear();
    if (hooks.betweenRenames && index + 1 < writes.size()) hooks.betweenRenames();
  }
  return {};
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) return identityOf(status);
  if (errno != ENOENT) return std::nullopt;
  auto walked = walkPath(path);
  if (!walked) return std::nullopt;
  if (!walked->exists) return FileIdentity{false, 0, 0, std::move(walked->path)};
  if (::stat(walked->path.c_str(), &status) != 0) return std::nullopt;
  return identityOf(status);
}

std::optional<FileIdentity> standardOutputFile() {
  struct stat status {};
  if (::fstat(STDOUT_FILENO, &status) != 0 || S_ISCHR(status.st_mode)) return std::nullopt;
  return identityOf(status);
}

FileStatus writeFileThrough(const std::string& path, std::string_view bytes) {
  PreparedWrite write;
  if (auto prepared = write.prepare(path, bytes); !prepared) return prepared;
  if (auto written = write.writeAside(); !written) return written;
  PreparedWrite* const writes[] = {&write};
  if (auto finished = finishWrites(writes); !finished) return std::unexpected(std::move(finished.error().failure));
  return {};
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
  const auto free =
      std::ranges::find_if(pendingRemovals, [](const PendingRemoval& pending) { return pending.armed == 0; });
  if (free == pendingRemovals.end()) return failWith(EAGAIN);
  handleTerminationSignals();
  for (unsigned attempt = 0; file_ < 0; ++attempt) {
    temporaryName_ = targetName_.substr(0, kept) + temporarySuffix(attempt);
    file_ =
        ::openat(directory_, temporaryName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownership ? 0600 : 0666);
    if (file_ < 0 && (errno != EEXIST || attempt == 100)) return failWith(errno);
  }
  free->directory = directory_;
  temporaryName_.copy(free->name, temporaryName_.size());
  free->name[temporaryName_.size()] = '\0';
  std::atomic_signal_fence(std::memory_order_seq_cst);
  free->armed = 1;
  pending_ = &*free;

  if (ownership) {
    if (::fchown(file_, ownership->owner, ownership->group) != 0) return failWith(errno);
    mode_ = ownership->mode & 07777;
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
  if (mode_ && ::fchmod(file, *mode_) != 0) return failClosing(file);
  if (::close(file) != 0) return failWith(errno);
  SignalsHeld held;
  if (::renameat(directory_, temporaryName_.c_str(), directory_, targetName_.c_str()) != 0) return failWith(errno);
  pending_->armed = 0;
  pending_ = nullptr;
  return {};
}

void ReplacementFile::discard() noexcept {
  SignalsHeld held;
  if (file_ >= 0) ::close(file_);
  file_ = -1;
  if (pending_ != nullptr) {
    ::unlinkat(directory_, temporaryName_.c_str(), 0);
    pending_->armed = 0;
    pending_ = nullptr;
  }
  if (directory_ >= 0) ::close(directory_);
  directory_ = -1;
}

void blockTerminationSignals() noexcept {
  const sigset_t set = terminationSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace qovrin::main::platform
