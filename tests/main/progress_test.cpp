#include "main/progress.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(ProgressDisplay, DrawsNodesAndLeavesNoFrameBehind) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  {
    ProgressDisplay display({"qovrin assemble", 3, std::chrono::milliseconds(0), std::chrono::milliseconds(1),
                             pipeFds[1], true});
    const auto node = display.startNode("read source");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    display.pauseForOutput();
    ::write(pipeFds[1], "line\n", 5);
    display.resumeAfterOutput();
    display.endNode(node);
  }
  ::close(pipeFds[1]);
  const std::string text = drain(pipeFds[0]);
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
