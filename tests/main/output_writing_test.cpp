#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <pthread.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <memory>
#include <set>

#include "main/platform_output.hpp"
#include "main/run_files.hpp"
#include "temp_tree.hpp"

namespace {

namespace fs = std::filesystem;
using namespace qovrin::main;
using qovrin::Error;
using qovrin_test::TempTree;

struct stat statusOf(const std::string& path, bool follow = true) {
  struct stat status {};
  EXPECT_EQ(follow ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status), 0) << path;
  return status;
}

// No temporary file may outlive a write, whatever became of it.
std::vector<std::string> leftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().find(".tmp-") != std::string::npos)
      names.push_back(entry.path().filename().string());
  return names;
}

// Runs `body` in a child process and gives back its exit status, or 128 and
// the signal that ended it.
int inChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST_F(TempTree, WritesReachWhatThePathNames) {
  const std::string longName(250, 'n');
  struct Case {
    std::string_view what;
    std::string path;
    std::function<void()> prepare;
    std::function<void()> check;
  };
  const Case cases[] = {
      {"a symbolic link writes its target and stays a link", "link.bin",
       [] {
         put("real.bin", "old");
         fs::create_symlink("real.bin", "link.bin");
       },
       [] {
         EXPECT_TRUE(fs::is_symlink("link.bin"));
         EXPECT_EQ(slurp("real.bin"), "new bytes");
       }},
      {"a link to a file not made yet creates it", "dangling", [] { fs::create_symlink("made/later.bin", "dangling"); },
       [] {
         EXPECT_TRUE(fs::is_symlink("dangling"));
         EXPECT_EQ(slurp("made/later.bin"), "new bytes");
       }},
      {"a file with two names changes under both, with no tail of the longer old content", "first.bin",
       [] {
         put("first.bin", "an older and longer content");
         fs::create_hard_link("first.bin", "second.bin");
       },
       [] {
         EXPECT_EQ(slurp("second.bin"), "new bytes");
         EXPECT_EQ(fs::hard_link_count("first.bin"), 2u);
       }},
      {"a relative link in another folder leads from that folder", "sub/link.bin",
       [] {
         put("sub/real.bin", "old");
         put("real.bin", "decoy");
         fs::create_symlink("real.bin", "sub/link.bin");
       },
       [] {
         EXPECT_EQ(slurp("sub/real.bin"), "new bytes");
         EXPECT_EQ(slurp("real.bin"), "decoy");
       }},
      {"a relative link in another folder to a file not made yet", "sub/later",
       [] { fs::create_symlink("../made/other.bin", "sub/later"); },
       [] {
         EXPECT_EQ(slurp("made/other.bin"), "new bytes");
         EXPECT_FALSE(fs::exists("sub/made"));
       }},
      {"a 250-byte name", longName, [] {}, [&] { EXPECT_EQ(slurp(longName), "new bytes"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    ASSERT_TRUE(platform::writeFileThrough(c.path, "new bytes").has_value());
    c.check();
    EXPECT_TRUE(leftovers(".").empty());
  }
}

TEST_F(TempTree, ReplacedFilesKeepTheirMode) {
  for (const mode_t mode : {0600, 0444, 0755, 04755, 02755, 01644}) {
    SCOPED_TRACE(mode);
    put("kept.bin", "an older and longer content");
    ASSERT_EQ(::chmod("kept.bin", mode), 0);
    const auto before = statusOf("kept.bin");
    ASSERT_TRUE(platform::writeFileThrough("kept.bin", "new").has_value());
    const auto after = statusOf("kept.bin");
    EXPECT_EQ(after.st_mode & 07777, mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(slurp("kept.bin"), "new");
    ASSERT_EQ(::chmod("kept.bin", 0644), 0);
  }
}

TEST_F(TempTree, AFolderIsNoOutputAndSaysSo) {
  fs::create_directories("taken/inner");
  for (const std::string path : {"taken", "taken/"}) {
    const auto written = platform::writeFileThrough(path, "x");
    ASSERT_FALSE(written.has_value()) << path;
    EXPECT_EQ(written.error().error, Error::PathAlreadyExists);
    EXPECT_EQ(written.error().cause, "Is a directory");
  }
  EXPECT_TRUE(fs::is_directory("taken/inner"));
  put("plain.bin", "");
  const auto underFile = platform::writeFileThrough("plain.bin/x.bin", "x");
  ASSERT_FALSE(underFile.has_value());
  EXPECT_EQ(underFile.error().error, Error::FileNotFound);
  fs::create_symlink("cycle", "cycle");
  EXPECT_FALSE(platform::writeFileThrough("cycle", "x").has_value());
}

TEST_F(TempTree, AFifoIsWrittenToItsReader) {
  ASSERT_EQ(::mkfifo("pipe", 0600), 0);
  // The reader is there before the write; the bytes wait in the pipe.
  const int reader = ::open("pipe", O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const auto written = platform::writeFileThrough("pipe", "through the pipe");
  char buffer[64] = {};
  const ssize_t count = ::read(reader, buffer, sizeof buffer);
  ::close(reader);
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(std::string_view(buffer, count > 0 ? static_cast<std::size_t>(count) : 0), "through the pipe");
  EXPECT_TRUE(fs::is_fifo("pipe"));
}

TEST_F(TempTree, DevicesAreWrittenInPlaceAndOwnersKept) {
  if (::geteuid() != 0) GTEST_SKIP() << "making devices and giving files away needs root";
  ASSERT_EQ(::mknod("full", S_IFCHR | 0666, ::makedev(1, 7)), 0);
  ASSERT_EQ(::mknod("null", S_IFCHR | 0666, ::makedev(1, 3)), 0);
  const auto full = platform::writeFileThrough("full", "bytes");
  ASSERT_FALSE(full.has_value());
  EXPECT_EQ(full.error().error, Error::WriteFailed);
  EXPECT_EQ(full.error().cause, "No space left on device");
  EXPECT_TRUE(platform::writeFileThrough("null", "bytes").has_value());
  for (const char* device : {"full", "null"}) EXPECT_TRUE(S_ISCHR(statusOf(device).st_mode)) << device;

  put("theirs.bin", "old");
  ASSERT_EQ(::chown("theirs.bin", 4321, 4321), 0);
  ASSERT_TRUE(platform::writeFileThrough("theirs.bin", "new").has_value());
  EXPECT_EQ(statusOf("theirs.bin").st_uid, 4321u);
  EXPECT_EQ(statusOf("theirs.bin").st_gid, 4321u);
  EXPECT_TRUE(leftovers(".").empty());
}

TEST_F(TempTree, TemporaryNamesStayWithinTheNameLimit) {
  for (const std::size_t length : {1u, 244u, 245u, 255u}) {
    const std::string name(length, 'q');
    platform::ReplacementFile replacement;
    ASSERT_TRUE(replacement.open(name, std::nullopt).has_value()) << length;
    EXPECT_LE(replacement.temporaryName().size(), 255u);
    EXPECT_TRUE(replacement.temporaryName().starts_with(name.substr(0, 244)));
  }
  EXPECT_TRUE(leftovers(".").empty());
}

// A run ended by a signal while its replacement is half written removes it
// and still ends by that signal.
TEST_F(TempTree, TerminationRemovesTheTemporaryFile) {
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
                           SIGIO, SIGPWR, SIGSTKFLT, SIGRTMIN, SIGRTMAX}) {
    SCOPED_TRACE(signal);
    put("kept.bin", "old");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // A signal ignored from outside stays ignored, so start from the default.
      ::signal(signal, SIG_DFL);
      const rlimit noCore{0, 0};
      ::setrlimit(RLIMIT_CORE, &noCore);
      platform::ReplacementFile replacement;
      if (!replacement.open("kept.bin", std::nullopt) || !replacement.write("half")) ::_exit(3);
      ::raise(signal);
      ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_TRUE(leftovers(".").empty());
    EXPECT_EQ(slurp("kept.bin"), "old");
  }
}

TEST_F(TempTree, OutputsMeetInputsByIdentity) {
  put("src/main.qov", "source");
  put("src/inc.qov", "include");
  fs::create_hard_link("src/inc.qov", "alias.qov");
  fs::create_symlink("src/main.qov", "main-link.qov");
  put("lib/inc.qov", "include");
  fs::create_directories("lib/sub");
  fs::create_symlink("lib/sub", "ls");
  InputFiles inputs;
  inputs.record("source", "src/main.qov");
  inputs.record("input", "src/inc.qov");
  inputs.record("input", "lib/inc.qov");
  inputs.record("input", "gone.qov");  // cannot be told, so not kept
  inputs.record("input", "main-link.qov");  // read again under another name
  ASSERT_EQ(inputs.files().size(), 3u);

  struct Case {
    std::string output;
    std::optional<std::string> listing;
    std::optional<std::string> clash;
  };
  const Case cases[] = {
      {"out.bin", std::nullopt, std::nullopt},
      {"out.bin", "out.lst", std::nullopt},
      {"src/../src/main.qov", std::nullopt, "output src/../src/main.qov is the same file as source src/main.qov"},
      {"main-link.qov", std::nullopt, "output main-link.qov is the same file as source src/main.qov"},
      {"alias.qov", std::nullopt, "output alias.qov is the same file as input src/inc.qov"},
      {"new/../src/inc.qov", std::nullopt, "output new/../src/inc.qov is the same file as input src/inc.qov"},
      {"out.bin", "src/main.qov", "listing src/main.qov is the same file as source src/main.qov"},
      {"out.bin", "./out.bin", "listing ./out.bin is the same file as output out.bin"},
      {"new/out.bin", "new/x/../out.bin", "listing new/x/../out.bin is the same file as output new/out.bin"},
      // The kernel takes "ls/.." to lib, not to the working directory.
      {"nodir/../ls/../inc.qov", std::nullopt, "output nodir/../ls/../inc.qov is the same file as input lib/inc.qov"},
      {"out.bin", "ls/../new/../inc.qov", "listing ls/../new/../inc.qov is the same file as input lib/inc.qov"},
      {"ls/../x.bin", "lib/x.bin", "listing lib/x.bin is the same file as output ls/../x.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    EXPECT_EQ(findOverwrittenFile(outputFiles(c.output, c.listing), inputs.files()), c.clash);
  }
  EXPECT_FALSE(fs::exists("new"));
  EXPECT_FALSE(fs::exists("nodir"));
}

// However a path is spelled, the file the guard compares before the write
// is the file the write reaches.
TEST_F(TempTree, TheGuardKnowsTheFileTheWriterWrites) {
  fs::create_directories("lib/sub");
  fs::create_symlink("lib/sub", "ls");
  fs::create_symlink("../made/later.bin", "lib/dangling");
  const std::pair<std::string, std::string> cases[] = {
      {"nodir/../ls/../a.bin", "lib/a.bin"}, {"ls/../b.bin", "lib/b.bin"},      {"new/x/../c.bin", "new/c.bin"},
      {"ls/../dangling", "made/later.bin"},  {"./ls/./d.bin", "lib/sub/d.bin"}, {"ls/../ls/../../e.bin", "e.bin"},
  };
  const fs::path here = fs::canonical(".");
  for (const auto& [path, lands] : cases) {
    SCOPED_TRACE(path);
    const auto before = platform::fileIdentity(path);
    ASSERT_TRUE(before.has_value());
    EXPECT_FALSE(before->exists);
    EXPECT_EQ(before->missingPath, (here / lands).string());
    ASSERT_TRUE(platform::writeFileThrough(path, "bytes").has_value());
    EXPECT_EQ(slurp(lands), "bytes");
    const auto after = statusOf(lands);
    EXPECT_EQ(platform::fileIdentity(path), (platform::FileIdentity{true, after.st_dev, after.st_ino, {}}));
  }
  // A folder only passed through is not made.
  EXPECT_FALSE(fs::exists("nodir"));
  for (const std::string path : {"missing/", "missing/."}) {
    const auto written = platform::writeFileThrough(path, "x");
    ASSERT_FALSE(written.has_value()) << path;
    EXPECT_EQ(written.error().error, Error::WriteFailed) << path;
    EXPECT_TRUE(written.error().cause.starts_with("the path names a folder")) << written.error().cause;
  }
  EXPECT_FALSE(fs::exists("missing"));
}

// A link to an absolute path leads from the root, not from the working
// folder, whether its target exists or is still to be made; chains of links
// are followed as far as the kernel follows them, and no further.
TEST_F(TempTree, AbsoluteLinksAndLinkChainsLeadWhereTheKernelGoes) {
  // Linux follows at most 40 links while it resolves one path.
  constexpr int kSystemLinkLimit = 40;
  const fs::path here = fs::canonical(".");
  const auto chain = [&](const std::string& name, int links, const fs::path& end) {
    // Every other link absolute, so both kinds are taken along the way.
    for (int link = 0; link < links; ++link) {
      const fs::path next = link + 1 == links ? end : fs::path(name + std::to_string(link + 1));
      fs::create_symlink(link % 2 == 0 ? next : here / next, name + std::to_string(link));
    }
    return name + "0";
  };

  put("real/target.bin", "old");
  const auto before = statusOf("real/target.bin");
  fs::create_symlink(here / "real/target.bin", "out.bin");
  ASSERT_TRUE(platform::writeFileThrough("out.bin", "new").has_value());
  EXPECT_EQ(slurp("real/target.bin"), "new");
  // Replaced whole beside itself, as any plain file is, not truncated in place.
  EXPECT_NE(statusOf("real/target.bin").st_ino, before.st_ino);
  EXPECT_TRUE(fs::is_symlink("out.bin"));

  fs::create_symlink(here / "made/deep/later.bin", "dangling.bin");
  const auto identity = platform::fileIdentity("dangling.bin");
  ASSERT_TRUE(identity.has_value());
  EXPECT_EQ(identity->missingPath, (here / "made/deep/later.bin").string());
  ASSERT_TRUE(platform::writeFileThrough("dangling.bin", "made").has_value());
  EXPECT_EQ(slurp(here / "made/deep/later.bin"), "made");

  for (const int links : {10, kSystemLinkLimit}) {
    SCOPED_TRACE(links);
    put("chained.bin", "old");
    const std::string start = chain("to" + std::to_string(links) + "-", links, "chained.bin");
    const auto through = platform::writeFileThrough(start, "through");
    ASSERT_TRUE(through.has_value()) << through.error().cause;
    EXPECT_EQ(slurp("chained.bin"), "through");
    const std::string open = chain("open" + std::to_string(links) + "-", links, "ends/" + std::to_string(links));
    const auto ended = platform::writeFileThrough(open, "end");
    ASSERT_TRUE(ended.has_value()) << ended.error().cause;
    EXPECT_EQ(slurp("ends/" + std::to_string(links)), "end");
  }
  for (const fs::path end : {"chained.bin", "ends/beyond"}) {
    SCOPED_TRACE(end);
    const std::string start = chain("beyond-" + end.filename().string() + "-", kSystemLinkLimit + 1, end);
    EXPECT_FALSE(platform::fileIdentity(start).has_value());
    const auto written = platform::writeFileThrough(start, "x");
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error().error, Error::WriteFailed);
    EXPECT_EQ(written.error().cause, "Too many levels of symbolic links");
  }
  EXPECT_EQ(slurp("chained.bin"), "through");
  EXPECT_FALSE(fs::exists("ends/beyond"));

  // Nothing was made under the working folder but what the links name.
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    if (!fs::is_symlink(entry.symlink_status())) names.insert(name);
  }
  EXPECT_EQ(names, (std::set<std::string>{"real", "made", "chained.bin", "ends"}));
  EXPECT_TRUE(leftovers(".").empty());
}

// /dev/stdout and /dev/fd/N lead through /proc to an open file: a pipe is
// written to its reader, and a file keeps its inode, so whoever holds it
// open sees the bytes.
TEST_F(TempTree, LinksToOpenFilesWriteThoseFiles) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_NONBLOCK), 0);
  fs::create_symlink("/proc/self/fd/" + std::to_string(ends[1]), "to-pipe");
  const auto piped = platform::writeFileThrough("to-pipe", "into the pipe");
  char buffer[64] = {};
  const ssize_t count = ::read(ends[0], buffer, sizeof buffer);
  ::close(ends[0]);
  ::close(ends[1]);
  ASSERT_TRUE(piped.has_value()) << piped.error().cause;
  EXPECT_EQ(std::string_view(buffer, count > 0 ? static_cast<std::size_t>(count) : 0), "into the pipe");

  put("held.bin", "an older and longer content");
  const int held = ::open("held.bin", O_WRONLY);
  ASSERT_GE(held, 0);
  fs::create_symlink("/proc/self/fd/" + std::to_string(held), "to-file");
  const auto before = statusOf("held.bin");
  const auto written = platform::writeFileThrough("to-file", "new");
  struct stat heldStatus {};
  ::fstat(held, &heldStatus);
  ::close(held);
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(statusOf("held.bin").st_ino, before.st_ino);
  EXPECT_EQ(heldStatus.st_nlink, 1u);
  EXPECT_EQ(slurp("held.bin"), "new");
  EXPECT_TRUE(fs::is_symlink("to-file"));
  EXPECT_TRUE(leftovers(".").empty());
}

// An ordinary user may not replace a file they may not write, though the
// folder would let them; root may.
TEST_F(TempTree, AWriteProtectedFileIsNotReplaced) {
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(::chmod(".", 0777), 0);
  put("ro.bin", "old");
  ASSERT_EQ(::chown("ro.bin", kNobody, kNobody), 0);
  ASSERT_EQ(::chmod("ro.bin", 0444), 0);
  const int status = inChild([] {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 10;
    const auto written = platform::writeFileThrough("ro.bin", "new");
    if (written) return 11;
    return written.error().error == Error::AccessDenied ? 0 : 12;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slurp("ro.bin"), "old");
  EXPECT_TRUE(leftovers(".").empty());
}

// A file the user may write in a folder they may not is written in place.
TEST_F(TempTree, AWritableFileInALockedFolderIsWrittenInPlace) {
  constexpr uid_t kNobody = 65534;
  put("locked/open.bin", "an older and longer content");
  const auto before = statusOf("locked/open.bin");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown("locked/open.bin", kNobody, kNobody), 0);
  }
  ASSERT_EQ(::chmod("locked", 0555), 0);
  const int status = inChild([] {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) return 10;
    return platform::writeFileThrough("locked/open.bin", "new") ? 0 : 11;
  });
  ASSERT_EQ(::chmod("locked", 0755), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slurp("locked/open.bin"), "new");
  EXPECT_EQ(statusOf("locked/open.bin").st_ino, before.st_ino);
  EXPECT_TRUE(leftovers("locked").empty());
}

// A termination signal the caller ignores stays ignored while a replacement
// is open and after it.
TEST_F(TempTree, AnIgnoredSignalStaysIgnored) {
  const int status = inChild([] {
    ::signal(SIGINT, SIG_IGN);
    platform::ReplacementFile replacement;
    if (!replacement.open("kept.bin", std::nullopt) || !replacement.write("new")) return 10;
    ::raise(SIGINT);
    if (!replacement.commit()) return 11;
    ::raise(SIGINT);
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slurp("kept.bin"), "new");
  EXPECT_TRUE(leftovers(".").empty());
}

// The profiler's or the caller's own handler of a signal that would end the
// run stays installed while a replacement is open and after it.
TEST_F(TempTree, ACallersOwnHandlerStays) {
  const int status = inChild([] {
    static volatile std::sig_atomic_t caught = 0;
    ::signal(SIGPROF, [](int) { caught = caught + 1; });
    platform::ReplacementFile replacement;
    if (!replacement.open("kept.bin", std::nullopt) || !replacement.write("new")) return 10;
    ::raise(SIGPROF);
    if (!replacement.commit()) return 11;
    ::raise(SIGPROF);
    return caught == 2 ? 0 : 12;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slurp("kept.bin"), "new");
  EXPECT_TRUE(leftovers(".").empty());
}

// Over the file size limit the write fails, the old file stays and so does
// the process.
TEST_F(TempTree, AWriteOverTheSizeLimitFailsAndKeepsTheOldFile) {
  put("kept.bin", "old");
  const int status = inChild([] {
    const rlimit small{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return 10;
    const auto written = platform::writeFileThrough("kept.bin", std::string(65536, 'x'));
    if (written) return 11;
    return written.error().error == Error::WriteFailed && written.error().cause == "File too large" ? 0 : 12;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slurp("kept.bin"), "old");
  EXPECT_TRUE(leftovers(".").empty());
}

// A write in place that goes past the file size limit all the same (the
// limit lowered between the check and the write) fails with WriteFailed:
// SIGXFSZ does not end the run.
TEST_F(TempTree, AnInPlaceWritePastTheSizeLimitFailsWithoutTheSignal) {
  put("two.bin", "old");
  fs::create_hard_link("two.bin", "two-alias.bin");
  const int status = inChild([] {
    ::signal(SIGXFSZ, SIG_DFL);
    const rlimit small{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return 10;
    const std::string large(65536, 'n');
    platform::PreparedWrite write;
    if (!write.prepare("two.bin", large) || !write.writeAside()) return 11;
    platform::FinishHooks hooks;
    hooks.room = platform::systemRoomView();
    hooks.room->sizeLimit.reset();
    platform::PreparedWrite* const writes[] = {&write};
    const auto finished = platform::finishWrites(writes, hooks);
    if (finished) return 12;
    return finished.error().failure.error == Error::WriteFailed && finished.error().failure.code == EFBIG ? 0 : 13;
  });
  EXPECT_EQ(status, 0);
}

// A file bind-mounted over its name cannot be renamed over; it is written in
// place instead.
TEST_F(TempTree, AFileMountedOverItsNameIsWrittenInPlace) {
  put("mounted.bin", "an older and longer content");
  put("outside.bin", "");
  const int status = inChild([] {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("outside.bin", "mounted.bin", nullptr, MS_BIND, nullptr) != 0)
      return 77;
    const auto written = platform::writeFileThrough("mounted.bin", "new");
    return written ? 0 : 11;
  });
  if (status == 77) GTEST_SKIP() << "no bind mounts here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(slurp("outside.bin"), "new");
  EXPECT_EQ(slurp("mounted.bin"), "an older and longer content");
  EXPECT_TRUE(leftovers(".").empty());
}

// One write of a pair that cannot be prepared leaves the other unwritten,
// and the folders made for it are gone again; folders that hold something
// else by then stay, and a pair that finishes keeps the folders it made.
TEST_F(TempTree, AFailedPairTakesAwayTheFoldersItMade) {
  fs::create_directory("taken");
  {
    platform::PreparedWrite output;
    platform::PreparedWrite listing;
    ASSERT_TRUE(output.prepare("made/deeper/out.bin", "bytes").has_value());
    EXPECT_TRUE(fs::is_directory("made/deeper"));
    EXPECT_FALSE(listing.prepare("taken", "listing").has_value());
  }
  EXPECT_FALSE(fs::exists("made"));
  {
    platform::PreparedWrite output;
    ASSERT_TRUE(output.prepare("kept/deeper/out.bin", "bytes").has_value());
    put("kept/other.bin", "someone else's");
  }
  EXPECT_FALSE(fs::exists("kept/deeper"));
  EXPECT_EQ(slurp("kept/other.bin"), "someone else's");
  {
    platform::PreparedWrite output;
    platform::PreparedWrite listing;
    ASSERT_TRUE(output.prepare("pair/out.bin", "bytes").has_value());
    ASSERT_TRUE(listing.prepare("pair/lst/out.lst", "listing").has_value());
    ASSERT_TRUE(output.writeAside().has_value());
    ASSERT_TRUE(listing.writeAside().has_value());
    platform::PreparedWrite* const writes[] = {&output, &listing};
    ASSERT_TRUE(platform::finishWrites(writes).has_value());
  }
  EXPECT_EQ(slurp("pair/out.bin"), "bytes");
  EXPECT_EQ(slurp("pair/lst/out.lst"), "listing");
  EXPECT_TRUE(leftovers(".").empty());
}

// Files written in place are judged before the first of them is cut: a
// write that could not finish (over the file size limit, on a full file
// system) leaves every file of the run as it was. The last file of each
// case takes the large bytes, the others a few.
TEST_F(TempTree, InPlaceWritesThatCannotFinishCutNothing) {
  constexpr uid_t kNobody = 65534;
  const auto old = [](const std::string& path, const std::string& alias = {}) {
    put(path, "old");
    if (!alias.empty()) fs::create_hard_link(path, alias);
  };
  const auto inOwnMounts = [] {
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  };
  struct Case {
    std::string_view what;
    bool unprivileged;  // written as nobody: only where the tests run as root
    std::function<bool()> setUp;  // in the child; false when it cannot be had here
    std::vector<std::string> paths;
    std::optional<rlim_t> sizeLimit;
    int code;
  };
  const Case cases[] = {
      {"a file with two names", false, [&] { return old("two.bin", "two-alias.bin"), true; }, {"two.bin"}, 4096, EFBIG},
      {"a pair whose listing has two names", false,
       [&] { return old("out.bin"), old("pair.lst", "pair-alias.lst"), true; }, {"out.bin", "pair.lst"}, 4096, EFBIG},
      {"a pair of files with two names each", false,
       [&] { return old("both.bin", "both-alias.bin"), old("both.lst", "both-alias.lst"), true; },
       {"both.bin", "both.lst"}, 4096, EFBIG},
      {"another user's file of mode 0666 in a shared folder", true,
       [&] {
         old("shared/theirs.bin");
         return ::chmod("shared", 0777) == 0 && ::chown("shared/theirs.bin", 4321, 4321) == 0 &&
                ::chmod("shared/theirs.bin", 0666) == 0;
       },
       {"shared/theirs.bin"}, 4096, EFBIG},
      {"a file in a folder the user cannot write", true,
       [&] {
         old("locked/mine.bin");
         return ::chown("locked/mine.bin", kNobody, kNobody) == 0 && ::chmod("locked", 0555) == 0;
       },
       {"locked/mine.bin"}, 4096, EFBIG},
      {"a file mounted over its name", false,
       [&] {
         old("mounted.bin");
         old("outside.bin");
         return inOwnMounts() && ::mount("outside.bin", "mounted.bin", nullptr, MS_BIND, nullptr) == 0;
       },
       {"mounted.bin"}, 4096, EFBIG},
      {"a file system with too little room", false,
       [&] {
         fs::create_directory("small");
         if (!inOwnMounts() || ::mount("tmpfs", "small", "tmpfs", 0, "size=16k") != 0) return false;
         return old("small/full.bin", "small/full-alias.bin"), true;
       },
       {"small/full.bin"}, std::nullopt, ENOSPC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.unprivileged && ::geteuid() != 0) continue;
    const int status = inChild([&] {
      if (!c.setUp()) return 77;
      if (c.unprivileged && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) return 10;
      const rlimit limit{c.sizeLimit.value_or(RLIM_INFINITY), c.sizeLimit.value_or(RLIM_INFINITY)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 11;
      const std::string large(65536, 'n');
      std::vector<std::unique_ptr<platform::PreparedWrite>> writes;
      std::vector<platform::PreparedWrite*> finishing;
      for (const std::string& path : c.paths) {
        writes.push_back(std::make_unique<platform::PreparedWrite>());
        finishing.push_back(writes.back().get());
        const std::string_view bytes = &path == &c.paths.back() ? std::string_view(large) : "new";
        if (!writes.back()->prepare(path, bytes) || !writes.back()->writeAside()) return 12;
      }
      const auto finished = platform::finishWrites(finishing);
      if (finished) return 13;
      if (finished.error().failure.code != c.code || finished.error().index + 1 != c.paths.size()) return 14;
      writes.clear();
      for (const std::string& path : c.paths)
        if (slurp(path) != "old") return 15;
      for (const std::string& path : c.paths)
        if (!leftovers(fs::path(path).parent_path().empty() ? "." : fs::path(path).parent_path()).empty()) return 16;
      return 0;
    });
    if (status == 77) continue;
    EXPECT_EQ(status, 0);
  }
  ::chmod("locked", 0755);
}

// A set-id file written by its owner without the privilege keeps its bits,
// replaced or written in place: the mode is set after the data.
TEST_F(TempTree, SetIdBitsOutliveAnUnprivilegedWrite) {
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(::chmod(".", 0777), 0);
  put("replaced.bin", "old");
  put("linked.bin", "old");
  fs::create_hard_link("linked.bin", "linked-alias.bin");
  for (const char* path : {"replaced.bin", "linked.bin"}) {
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(path, kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chmod(path, 06755), 0);
  }
  const int status = inChild([] {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) return 10;
    for (const char* path : {"replaced.bin", "linked.bin"})
      if (!platform::writeFileThrough(path, "new")) return 11;
    return 0;
  });
  EXPECT_EQ(status, 0);
  for (const char* path : {"replaced.bin", "linked.bin"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(slurp(path), "new");
    EXPECT_EQ(statusOf(path).st_mode & 07777, 06755u);
  }
  EXPECT_TRUE(leftovers(".").empty());
}

// A termination signal that comes between the renames of an output and its
// listing waits for both: the run ends by it with both files new.
TEST_F(TempTree, ThePairIsRenamedWithTerminationSignalsHeld) {
  put("pair.bin", "old");
  put("pair.lst", "old");
  const int status = inChild([] {
    ::signal(SIGTERM, SIG_DFL);
    platform::PreparedWrite output;
    platform::PreparedWrite listing;
    if (!output.prepare("pair.bin", "new output") || !listing.prepare("pair.lst", "new listing") ||
        !output.writeAside() || !listing.writeAside())
      return 10;
    bool held = true;
    const auto between = [&held] {
      sigset_t mask;
      ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
      for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) held = held && ::sigismember(&mask, signal) == 1;
      ::raise(SIGTERM);
    };
    platform::PreparedWrite* const writes[] = {&output, &listing};
    if (!platform::finishWrites(writes, {.betweenRenames = between, .room = std::nullopt})) return 11;
    return held ? 12 : 13;
  });
  EXPECT_EQ(status, 128 + SIGTERM);
  EXPECT_EQ(slurp("pair.bin"), "new output");
  EXPECT_EQ(slurp("pair.lst"), "new listing");
  EXPECT_TRUE(leftovers(".").empty());
}

}  // namespace
