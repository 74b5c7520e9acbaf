#pragma once
// Buffered output to a standard stream. Text reaches the stream only when the
// writer is flushed, at the points the driver chooses, so a progress display
// drawing on the same terminal can be cleared first.

#include <functional>
#include <string>
#include <string_view>

#include "common/error.hpp"

namespace qovrin::main {

class StreamWriter {
 public:
  // `beforeFlush` runs before buffered text is written (the progress display
  // clears its frame there); `afterFlush` once it is out.
  explicit StreamWriter(int fd) : fd_(fd) {}

  void setFlushHooks(std::function<void()> beforeFlush, std::function<void()> afterFlush) {
    beforeFlush_ = std::move(beforeFlush);
    afterFlush_ = std::move(afterFlush);
  }

  void write(std::string_view text) { buffer_.append(text); }
  Status flush();

 private:
  int fd_;
  std::string buffer_;
  std::function<void()> beforeFlush_;
  std::function<void()> afterFlush_;
};

}  // namespace qovrin::main
