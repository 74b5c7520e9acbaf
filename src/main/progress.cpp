#include "main/progress.hpp"

#include "main/platform.hpp"
#include "main/platform_output.hpp"

namespace qovrin::main {

ProgressDisplay::ProgressDisplay(Settings settings) : settings_(std::move(settings)) {
  if (!settings_.forceDrawing && !platform::isTerminal(settings_.fd)) return;
  updater_ = std::jthread([this](std::stop_token stop) {
    platform::blockTerminationSignals();
    run(std::move(stop));
  });
}

ProgressDisplay::~ProgressDisplay() {
  if (!updater_.joinable()) return;
  updater_.request_stop();
  wake_.notify_all();
  updater_.join();
  std::lock_guard lock(mutex_);
  clearLocked();
}

ProgressDisplay::NodeId ProgressDisplay::startNode(std::string_view name) {
  std::lock_guard lock(mutex_);
  nodes_.push_back({std::string(name), true});
  return nodes_.size() - 1;
}

void ProgressDisplay::endNode(NodeId node) {
  std::lock_guard lock(mutex_);
  if (node >= nodes_.size() || !nodes_[node].active) return;
  nodes_[node].active = false;
  ++completed_;
}

void ProgressDisplay::setStatus(Status status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}

void ProgressDisplay::pauseForOutput() {
  mutex_.lock();
  clearLocked();
}

void ProgressDisplay::resumeAfterOutput() { mutex_.unlock(); }

void ProgressDisplay::run(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  if (wake_.wait_for(lock, stop, settings_.initialDelay, [] { return false; })) return;
  while (!stop.stop_requested()) {
    drawLocked();
    wake_.wait_for(lock, stop, settings_.refresh, [] { return false; });
  }
}

void ProgressDisplay::drawLocked() {
  std::string frame = "\r\x1b[2K";
  frame += settings_.rootName;
  frame += " [" + std::to_string(completed_) + '/' + std::to_string(settings_.estimatedItems) + ']';
  for (const Node& node : nodes_) {
    if (!node.active) continue;
    frame += " > ";
    frame += node.name;
  }
  if (status_ == Status::failure) frame += " (failed)";
  if (status_ == Status::success) frame += " (done)";
  frameShown_ = platform::writeAll(settings_.fd, frame);
}

void ProgressDisplay::clearLocked() {
  if (!frameShown_) return;
  platform::writeAll(settings_.fd, "\r\x1b[2K");
  frameShown_ = false;
}

}  // namespace qovrin::main
