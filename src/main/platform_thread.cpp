#include "main/platform_thread.hpp"

#include <alloca.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "common/work_stack.hpp"
#include "main/platform_memory.hpp"

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

// Maps `bytes` of the stack below the caller's frame by touching each page,
// highest first, and gives back the lowest address touched. The pages stay
// mapped after the return.
__attribute__((noinline)) std::uintptr_t claimStack(std::size_t bytes) noexcept {
  auto* const claimed = static_cast<volatile char*>(alloca(bytes));
  const auto page = pageBytes();
  for (std::size_t offset = bytes; offset > 0; offset -= std::min(page, offset)) claimed[offset - 1] = 0;
  claimed[0] = 0;
  return reinterpret_cast<std::uintptr_t>(claimed);
}

// Kept between the claim and the end the stack limit puts, for the claim's
// own frame.
constexpr std::size_t kClaimMargin = std::size_t{16} << 10;

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

void adoptWorkStack(std::optional<std::size_t> mainStackShare, std::uintptr_t stackFloor) noexcept {
  pthread_attr_t attributes;
  // For the first thread this reads the process's memory map and stack limit.
  if (::pthread_getattr_np(::pthread_self(), &attributes) != 0) return;
  void* lowest = nullptr;
  std::size_t bytes = 0;
  const bool known = ::pthread_attr_getstack(&attributes, &lowest, &bytes) == 0;
  ::pthread_attr_destroy(&attributes);
  if (!known) return;
  auto bottom = reinterpret_cast<std::uintptr_t>(lowest);
  // The process's own stack grows only as it is used, and under a limit on
  // the address space that growth fails once the heap has taken the rest:
  // the run would end by a signal. So the stack's share is mapped now, and
  // the nesting checks measure against what was mapped. A thread's stack
  // was mapped whole when the thread was made.
  std::uintptr_t counted = stackFloor;
  if (mainStackShare && ::getpid() == ::gettid()) {
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    const std::size_t below = here - bottom > kClaimMargin ? here - bottom - kClaimMargin : 0;
    const std::size_t claimed = std::min(below, *mainStackShare);
    bottom = claimed > 0 ? claimStack(claimed) : here;
    bytes -= static_cast<std::size_t>(bottom - reinterpret_cast<std::uintptr_t>(lowest));
    // Where the whole share would have reached.
    const std::size_t unclaimed = *mainStackShare - claimed;
    if (bottom > unclaimed) counted = std::min(counted, bottom - unclaimed);
  }
  // What the stack limit kept the stack from mapping of its share is still
  // the stack's: a larger stack limit must not leave the heap less.
  if (mainStackShare) reserveStackDownTo(counted);
  currentWorkStack() = WorkStack{bottom, bytes, workStackReserve(bytes), false};
}

}  // namespace qovrin::main::platform
