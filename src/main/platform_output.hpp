#pragma once
// Writing output files through the operating system: to whatever the path
// names, replacing a plain file atomically and never leaving a temporary
// file behind, and telling files apart by identity rather than by name.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "main/platform.hpp"
#include "main/platform_room.hpp"

namespace qovrin::main::platform {

// Device and inode of an existing file; a path that names nothing yet is
// known by the absolute path the kernel would reach once the missing folders
// are made (links followed, "." and ".." applied where they fall), so two
// spellings of one future file still match.
struct FileIdentity {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::string missingPath;

  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file that `path` leads to after symbolic links, the
// file writeFileThrough would write. Nothing when it cannot be told (a loop
// of links, no permission).
std::optional<FileIdentity> fileIdentity(const std::string& path);

// The file behind standard output when what is written there lands in it at
// a position (a file, a pipe): nothing for a terminal or another device.
std::optional<FileIdentity> standardOutputFile();

// Writes the bytes to the file `path` names, following symbolic links.
// Where nothing exists yet, or the file is a regular file with one name, a
// temporary file beside it takes the bytes and is renamed over it, keeping
// the old file's mode and owner; a run stopped half-way leaves the old file
// as it was, and so does a write over the file size limit. Anything else
// that exists (a device, a FIFO, a file with several names, a file reached
// through a link kept by /proc such as /dev/stdout, a file mounted over its
// name, a file we may write but whose folder or owner forbids a replacement)
// is opened by the path as given and truncated in place, so it stays what it
// is; a regular one only once its new size is known to fit the file size
// limit and its file system's free space. A file the process may not open
// for writing is AccessDenied. Missing parent directories are created first.
FileStatus writeFileThrough(const std::string& path, std::string_view bytes);

// The owner and permission bits a replacement takes over from the file it
// replaces.
struct Ownership {
  mode_t mode;
  uid_t owner;
  gid_t group;
};

struct PendingRemoval;

// The temporary half of an atomic replace: a new file beside `target`
// whose name stays within the directory's name limit. While it exists, a
// termination signal (one that ends the process by default, such as SIGTERM,
// SIGXCPU or SIGUSR1, but for those that tell of a crash) removes it before
// the process ends. Two at a time (an output and its listing); a third
// fails with WriteFailed.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  // Removes the temporary file unless it was committed.
  ~ReplacementFile();

  // Creates the temporary file. With `ownership` it takes over that owner
  // and fails with AccessDenied when the owner cannot be given; the mode
  // follows when it is committed.
  FileStatus open(const std::string& target, const std::optional<Ownership>& ownership);
  FileStatus write(std::string_view bytes);
  // Gives the finished file its mode, after the data (writing clears set-id
  // bits of a file that a user without the privilege writes), and renames
  // it over the target.
  FileStatus commit();

  // The temporary file's name inside the target's directory.
  std::string_view temporaryName() const noexcept { return temporaryName_; }

 private:
  void discard() noexcept;

  int directory_ = -1;
  int file_ = -1;
  std::string temporaryName_;
  std::string targetName_;
  std::optional<mode_t> mode_;
  PendingRemoval* pending_ = nullptr;  // the termination handler's record of it
};

// Which of several writes failed, and how.
struct WriteSetFailure {
  std::size_t index;
  FileFailure failure;
};

class PreparedWrite;

// What tests put into finishWrites.
struct FinishHooks {
  // Runs after each rename but the last.
  std::function<void()> betweenRenames;
  // Judges the room of the files written in place instead of the system's
  // own view, which may change between the check and the write.
  std::optional<RoomView> room;
};

// Finishes prepared writes: every file written in place is first checked
// for what can be known of its write (its new size against the file size
// limit, the free space of its file system), then those files are written,
// then every replacement is renamed with all signals held, so that no signal
// stops the run between two renames and leaves a new output beside an old
// listing. The termination signals wait from the first regular file written
// in place on, so that none cuts it; a FIFO or a device stays interruptible.
// After a failure the replacements not yet renamed are removed with their
// PreparedWrite.
std::expected<void, WriteSetFailure> finishWrites(std::span<PreparedWrite* const> writes,
                                                  const FinishHooks& hooks = {});

// One file of several written as one change, as writeFileThrough writes
// it, in steps: every file prepared, then every replacement written, then
// all finished together (finishWrites), so that a failure before the finish
// leaves every file as it was.
class PreparedWrite {
 public:
  PreparedWrite() = default;
  PreparedWrite(const PreparedWrite&) = delete;
  PreparedWrite& operator=(const PreparedWrite&) = delete;
  // A write that did not finish takes its replacement away, and the
  // folders it made for it, so that a failed pair leaves no trace.
  ~PreparedWrite();

  // The checks of the path, the missing folders made, and for a file that
  // is replaced, its replacement made beside it. `bytes` must outlive the
  // write.
  FileStatus prepare(const std::string& path, std::string_view bytes);
  // Writes the bytes whole into the replacement; nothing for a file written
  // in place.
  FileStatus writeAside();

 private:
  friend std::expected<void, WriteSetFailure> finishWrites(std::span<PreparedWrite* const> writes,
                                                           const FinishHooks& hooks);

  FileStatus prepareReplacement(const std::string& target, const std::optional<Ownership>& ownership);
  FileStatus prepareExisting(const std::string& path, const struct stat& status);
  // A file that is not replaced (a device, a FIFO, a file with several
  // names, a file we may write but not replace) is checked for writing now;
  // a regular one is opened, so that its room can be judged before any file
  // is cut.
  FileStatus prepareInPlace(const struct stat& status);
  // Writes such a file in place. Past the checks it may still fail half-way
  // (an I/O error, a disk filled meanwhile) and is then left cut.
  FileStatus writeInPlace();
  // Renames the replacement over the file.
  FileStatus replace();

  std::string path_;
  std::string_view bytes_;
  std::unique_ptr<ReplacementFile> replacement_;
  bool inPlace_ = false;
  int inPlaceFile_ = -1;  // a regular file written in place, opened when prepared
  mode_t inPlaceMode_ = 0;
  std::vector<std::string> madeFolders_;  // deepest first
};

// Keeps the termination signals away from the calling thread, so that they reach
// the thread that runs the command, which knows about its temporary file.
void blockTerminationSignals() noexcept;

}  // namespace qovrin::main::platform
