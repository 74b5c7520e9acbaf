#pragma once
// The stack the program's work runs on, whatever stack the process was
// started with. The nesting limits bound the recursion of parsing, lowering
// and assembly: about 1 MiB for one file at its limits in an optimized build,
// under 40 MiB for the deepest chain of includes or calls each nested that
// deep, and several times as much under the address sanitizer, whose
// optimised frames keep every inlined local apart (an expression level takes
// over 9 KiB there, against a few hundred bytes without it). Only the pages
// a run touches cost memory.
//
// Where that stack cannot be had (a limit on the address space), the work
// runs on a smaller one, and the nesting checks also stop where the stack
// actually left would not hold another level.

#include <cstddef>
#include <cstdint>

namespace qovrin {

// The reserve is what the deepest work below the last nesting check may
// take: a body copied or released whole at the nesting limit (some hundreds
// of KiB in an optimized build), an expression evaluated at its height
// limit, a value at its depth limit, the notes of a failure.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr std::size_t kWorkStackBytes = std::size_t{1} << 30;
inline constexpr std::size_t kWorkStackReserve = std::size_t{64} << 20;
#else
inline constexpr std::size_t kWorkStackBytes = std::size_t{64} << 20;
inline constexpr std::size_t kWorkStackReserve = std::size_t{1} << 20;
#endif
// A smaller stack would leave too little above the reserve to be worth a
// thread: the run goes on on the stack the process was started with.
inline constexpr std::size_t kSmallestWorkStack = 4 * kWorkStackReserve;

// The stack the calling thread runs the work on. Each thread keeps its own:
// the nesting checks read it where passing it along would reach every
// recursive function of the front end.
struct WorkStack {
  std::uintptr_t lowest = 0;  // 0 where no thread said (a test's own thread): no check
  std::size_t bytes = 0;
  bool ranOut = false;  // a nesting check found it full
};

inline WorkStack& currentWorkStack() noexcept {
  thread_local WorkStack stack;
  return stack;
}

// True when one more level of nesting might not fit in the stack left; the
// caller then fails with NestingTooDeep, as at a nesting limit.
inline bool workStackFull() noexcept {
  WorkStack& stack = currentWorkStack();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (stack.lowest == 0 || here - stack.lowest >= kWorkStackReserve) [[likely]]
    return false;
  stack.ranOut = true;
  return true;
}

}  // namespace qovrin
