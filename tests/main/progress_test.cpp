#include "main/progress.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace {

using qovrin::main::ProgressDisplay;

std::string drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t count;
  while ((count = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(count));
  return text;
}

// Collects what the display writes as it comes, so that the test can wait
// for a frame however long the updater takes to draw one.
class PipeReader {
 public:
  explicit PipeReader(int fd) : thread_([this, fd] { collect(fd); }) {}
  ~PipeReader() { thread_.join(); }

  void waitFor(std::string_view wanted) {
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] { return text_.find(wanted) != std::string::npos || ended_; });
  }
  // Everything written, once the writing end is closed.
  std::string all() {
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] { return ended_; });
    return text_;
  }

 private:
  void collect(int fd) {
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0) {
      const std::lock_guard lock(mutex_);
      text_.append(buffer, static_cast<std::size_t>(count));
      arrived_.notify_all();
    }
    const std::lock_guard lock(mutex_);
    ended_ = true;
    arrived_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::string text_;
  bool ended_ = false;
  std::thread thread_;
};

TEST(ProgressDisplay, DrawsNodesAndLeavesNoFrameBehind) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  std::string text;
  {
    PipeReader reader(pipeFds[0]);
    {
      ProgressDisplay display({"qovrin assemble", 3, std::chrono::milliseconds(0), std::chrono::milliseconds(1),
                               pipeFds[1], true});
      const auto node = display.startNode("read source");
      reader.waitFor("qovrin assemble [0/3] > read source");
      display.pauseForOutput();
      ::write(pipeFds[1], "line\n", 5);
      display.resumeAfterOutput();
      display.endNode(node);
    }
    ::close(pipeFds[1]);
    text = reader.all();
  }
  ::close(pipeFds[0]);
  EXPECT_NE(text.find("qovrin assemble [0/3] > read source"), std::string::npos);
  // The printed line always follows a cleared frame, and the display ends cleared.
  EXPECT_NE(text.find("\r\x1b[2Kline\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.rfind("\r\x1b[2K")).find("qovrin assemble"), std::string::npos);
}

TEST(ProgressDisplay, DrawsNothingOnANonTerminal) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  {
    ProgressDisplay display({"qovrin assemble", 3, std::chrono::milliseconds(0), std::chrono::milliseconds(1),
                             pipeFds[1], false});
    display.endNode(display.startNode("read source"));
  }
  ::close(pipeFds[1]);
  EXPECT_EQ(drain(pipeFds[0]), "");
  ::close(pipeFds[0]);
}

}  // namespace
