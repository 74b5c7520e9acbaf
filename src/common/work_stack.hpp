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
// Under a limit on the address space the stack takes a share of what the
// limit leaves, so that a larger limit gives both the stack and the heap at
// least as much as a smaller one. The nesting checks then stop where the
// stack actually left would not hold another level.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

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
// What a run takes below its last nesting check when it nests no deeper than
// a small stack lets it: the rest of one statement's evaluation, its encoding
// and the notes of its failure, with no large buffer on the stack (some 8 KiB
// in an optimized build).
inline constexpr std::size_t kLeafWorkStack = std::size_t{16} << 10;
// What a statement that nests nothing takes above its deepest nesting check,
// from where the work starts (some 10 KiB for an instruction's operand
// expression). A stack whose room holds its reserve and this much runs every
// such statement; a smaller one would stop it as nested too deep.
inline constexpr std::size_t kStatementStack = std::size_t{16} << 10;
// The least stack a run works on: below it no statement is tried.
inline constexpr std::size_t kLeastWorkStack = kLeafWorkStack + kStatementStack;
// The share of the address space left under a limit that the stack takes;
// the heap keeps the rest.
inline constexpr std::size_t kStackShareDivisor = 4;

// The stack a run takes when its limit leaves `addressSpaceLeft` bytes:
// whole pages, at least twice the least it works on and at most the full
// work stack.
// Past the least it grows by one page for every `kStackShareDivisor` pages
// more, so the heap's whole pages never shrink as the limit grows.
constexpr std::size_t workStackShare(std::size_t addressSpaceLeft, std::size_t pageBytes) noexcept {
  const std::size_t share = addressSpaceLeft / pageBytes / kStackShareDivisor * pageBytes;
  return std::clamp(share, 2 * kLeastWorkStack, kWorkStackBytes);
}

// The reserve kept on a stack of `bytes`: the full one where it fits four
// times, else a quarter of the stack but never less than a leaf's work, so
// that a small stack still nests a little and a tiny one refuses nesting
// rather than running out.
constexpr std::size_t workStackReserve(std::size_t bytes) noexcept {
  return std::clamp(bytes / 4, kLeafWorkStack, kWorkStackReserve);
}

// Whether `room` bytes of stack below the work's start, of which `reserve`
// stay for the work below the last nesting check, are too few for a
// statement that nests nothing: the run is then refused before it starts,
// rather than stopping such a statement as nested too deep.
constexpr bool workStackTooSmall(std::size_t room, std::size_t reserve) noexcept {
  return room < reserve + kStatementStack;
}

// The reserve holds a walk over a value 1,024 levels deep (a copy, a
// comparison, its release) or over a body of statements nested 1,000 deep
// (its copy into a function, macro or deferred block, its release); a
// smaller reserve holds proportionally fewer levels.
inline constexpr std::size_t kLevelStack = kWorkStackReserve / 1024;

// The stack the calling thread runs the work on. Each thread keeps its own:
// the nesting checks read it where passing it along would reach every
// recursive function of the front end.
struct WorkStack {
  std::uintptr_t lowest = 0;  // 0 where no thread said (a test's own thread): no check
  std::size_t bytes = 0;
  std::size_t reserve = kWorkStackReserve;
  bool ranOut = false;  // a nesting check found it full
};

inline WorkStack& currentWorkStack() noexcept {
  thread_local WorkStack stack;
  return stack;
}

// The bytes of the work stack below the caller; nothing where no thread said.
inline std::optional<std::size_t> workStackRoom() noexcept {
  const WorkStack& stack = currentWorkStack();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (stack.lowest == 0) return std::nullopt;
  return here > stack.lowest ? here - stack.lowest : 0;
}

// Whether a value or a body `levels` deep can be walked within the reserve
// of the stack the work runs on; where it cannot, the caller fails with
// NestingTooDeep, as at its nesting limit.
inline bool workStackHoldsLevels(std::size_t levels) noexcept {
  WorkStack& stack = currentWorkStack();
  if (stack.lowest == 0 || levels <= stack.reserve / kLevelStack) [[likely]]
    return true;
  stack.ranOut = true;
  return false;
}

// True when one more level of nesting might not fit in the stack left; the
// caller then fails with NestingTooDeep, as at a nesting limit.
inline bool workStackFull() noexcept {
  WorkStack& stack = currentWorkStack();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  // A frame below the lowest address (a stack with no room at all) is full too.
  if (stack.lowest == 0 || here >= stack.lowest + stack.reserve) [[likely]]
    return false;
  stack.ranOut = true;
  return true;
}

}  // namespace qovrin
