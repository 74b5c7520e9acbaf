#pragma once
// A one-line progress display on the standard error terminal, redrawn by its
// own thread. Nothing is drawn when the stream is no terminal. Output that the
// driver flushes to the same stream clears the frame first, under the same
// lock, so lines are never torn.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qovrin::main {

class ProgressDisplay {
 public:
  using NodeId = std::size_t;
  static constexpr NodeId kNone = static_cast<NodeId>(-1);
  enum class Status : std::uint8_t { working, success, failure };

  struct Settings {
    std::string rootName;
    std::size_t estimatedItems = 0;
    std::chrono::milliseconds initialDelay{200};
    std::chrono::milliseconds refresh{80};
    int fd = 2;
    // Draw even when the stream is no terminal (tests only).
    bool forceDrawing = false;
  };

  // A display that draws nothing and starts no thread.
  ProgressDisplay() = default;
  explicit ProgressDisplay(Settings settings);
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;
  // Stops the updater and leaves no frame behind.
  ~ProgressDisplay();

  NodeId startNode(std::string_view name);
  void endNode(NodeId node);
  void setStatus(Status status);

  // Hooks for the standard error writer: clear the frame and hold the lock
  // while the text goes out, then let the updater draw again.
  void pauseForOutput();
  void resumeAfterOutput();


 private:
  struct Node {
    std::string name;
    bool active = true;
  };

  void run(std::stop_token stop);
  void drawLocked();
  void clearLocked();

  Settings settings_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::vector<Node> nodes_;
  std::size_t completed_ = 0;
  Status status_ = Status::working;
  bool frameShown_ = false;
  std::jthread updater_;
};

}  // namespace qovrin::main
