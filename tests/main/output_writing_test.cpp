#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>

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
      {"a file with two names changes under both", "first.bin",
       [] {
         put("first.bin", "old");
         fs::create_hard_link("first.bin", "second.bin");
       },
       [] {
         EXPECT_EQ(slurp("second.bin"), "new bytes");
         EXPECT_EQ(fs::hard_link_count("first.bin"), 2u);
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
  for (const mode_t mode : {0600, 0444, 0755}) {
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
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    put("kept.bin", "old");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // A signal ignored from outside stays ignored, so start from the default.
      ::signal(signal, SIG_DFL);
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
  InputFiles inputs;
  inputs.record("source", "src/main.qov");
  inputs.record("input", "src/inc.qov");
  inputs.record("input", "gone.qov");  // cannot be told, so not kept
  ASSERT_EQ(inputs.files().size(), 2u);

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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    EXPECT_EQ(findOverwrittenFile(outputFiles(c.output, c.listing), inputs.files()), c.clash);
  }
  EXPECT_FALSE(fs::exists("new"));
}

}  // namespace
