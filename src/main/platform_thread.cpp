#include "main/platform_thread.hpp"

#include <pthread.h>
#include <signal.h>

#include <cstdint>

#include "common/work_stack.hpp"

namespace qovrin::main::platform {
namespace {

struct Job {
  const std::function<int()>& work;
  sigset_t signals;  // the mask the work runs under
  int result = 0;
};

void* runJob(void* argument) {
  auto& job = *static_cast<Job*>(argument);
  ::pthread_sigmask(SIG_SETMASK, &job.signals, nullptr);
  job.result = job.work();
  return nullptr;
}

// Frees the thread attributes on every way out.
class ThreadAttributes {
 public:
  ThreadAttributes() noexcept : ready_(::pthread_attr_init(&attributes_) == 0) {}
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;
  ~ThreadAttributes() {
    if (ready_) ::pthread_attr_destroy(&attributes_);
  }
  bool sized(std::size_t stackBytes) noexcept {
    return ready_ && ::pthread_attr_setstacksize(&attributes_, stackBytes) == 0;
  }
  const pthread_attr_t* get() const noexcept { return &attributes_; }

 private:
  pthread_attr_t attributes_{};
  bool ready_;
};

}  // namespace

std::optional<int> runWithStack(std::size_t stackBytes, const std::function<int()>& work) {
  ThreadAttributes attributes;
  if (!attributes.sized(stackBytes)) return std::nullopt;
  Job job{work, {}, 0};
  // The waiting thread takes no signal, so each one sent to the process goes
  // to the worker (or to a thread it starts), where the handlers expect it.
  sigset_t all;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &job.signals);
  pthread_t thread{};
  const bool started = ::pthread_create(&thread, attributes.get(), runJob, &job) == 0;
  if (started) ::pthread_join(thread, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &job.signals, nullptr);
  if (!started) return std::nullopt;
  return job.result;
}

void adoptWorkStack() noexcept {
  pthread_attr_t attributes;
  // For the first thread this reads the process's memory map and stack limit.
  if (::pthread_getattr_np(::pthread_self(), &attributes) != 0) return;
  void* lowest = nullptr;
  std::size_t bytes = 0;
  const bool known = ::pthread_attr_getstack(&attributes, &lowest, &bytes) == 0;
  ::pthread_attr_destroy(&attributes);
  if (known) currentWorkStack() = WorkStack{reinterpret_cast<std::uintptr_t>(lowest), bytes, false};
}

}  // namespace qovrin::main::platform
