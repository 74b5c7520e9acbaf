#pragma once
// Makes one chosen allocation of the running thread throw std::bad_alloc, so
// tests can check that an operation changes nothing when any of its
// allocations fails; and measures how much heap the running thread holds at
// most or asks for in all, so tests can bound the records of very wide inputs
// and the copies growing ones make.

#include <cstddef>
#include <new>

namespace frontend::testing {

// While alive, the countdown-th allocation from now (1: the next one) throws.
class FailingAllocation {
 public:
  explicit FailingAllocation(std::size_t countdown) noexcept;
  ~FailingAllocation();
  // Whether the chosen allocation has come (and failed) yet.
  bool fired() const noexcept;
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
};

// The most heap bytes the running thread held at once since construction,
// beyond what it held then.
class HeapPeak {
 public:
  HeapPeak() noexcept;
  std::size_t bytes() const noexcept;

 private:
  long long start_;
};

// The heap bytes the running thread asked for since construction, freed or
// not: a structure that copies itself on every step asks for the square of
// its size.
class HeapTraffic {
 public:
  HeapTraffic() noexcept;
  std::size_t bytes() const noexcept;

 private:
  unsigned long long start_;
};

// Runs attempt() with its first, second, third ... allocation failing until
// an attempt runs through without one, calling unchanged() after each failed
// attempt; returns how many attempts failed.
template <typename Attempt, typename Unchanged>
std::size_t failEachAllocation(Attempt&& attempt, Unchanged&& unchanged) {
  for (std::size_t countdown = 1;; ++countdown) {
    try {
      const FailingAllocation failing(countdown);
      attempt();
      return countdown - 1;
    } catch (const std::bad_alloc&) {
      unchanged();
    }
  }
}

}  // namespace frontend::testing
