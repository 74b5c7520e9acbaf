#include "frontend/support/failing_allocation.hpp"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Per thread, so that an armed test cannot fail another thread's allocation,
// nor count its memory.
thread_local std::size_t countdown_ = 0;
thread_local long long live_ = 0;
thread_local long long peak_ = 0;
thread_local unsigned long long asked_ = 0;

// Blocks as malloc sized them, so that a free subtracts what its allocation added.
void* counted(void* memory) noexcept {
  if (memory != nullptr) {
    live_ += static_cast<long long>(malloc_usable_size(memory));
    peak_ = std::max(peak_, live_);
  }
  return memory;
}

void release(void* memory) noexcept {
  if (memory != nullptr) live_ -= static_cast<long long>(malloc_usable_size(memory));
  std::free(memory);
}

void* allocate(std::size_t size) {
  if (countdown_ != 0 && --countdown_ == 0) throw std::bad_alloc();
  asked_ += size;
  if (void* memory = counted(std::malloc(size == 0 ? 1 : size))) return memory;
  throw std::bad_alloc();
}

}  // namespace

namespace frontend::testing {

FailingAllocation::FailingAllocation(std::size_t countdown) noexcept { countdown_ = countdown; }
FailingAllocation::~FailingAllocation() { countdown_ = 0; }
bool FailingAllocation::fired() const noexcept { return countdown_ == 0; }

HeapPeak::HeapPeak() noexcept : start_(live_) { peak_ = live_; }
std::size_t HeapPeak::bytes() const noexcept { return static_cast<std::size_t>(std::max(peak_ - start_, 0LL)); }

HeapTraffic::HeapTraffic() noexcept : start_(asked_) {}
std::size_t HeapTraffic::bytes() const noexcept { return static_cast<std::size_t>(asked_ - start_); }

}  // namespace frontend::testing

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* memory) noexcept { release(memory); }
void operator delete[](void* memory) noexcept { release(memory); }
void operator delete(void* memory, std::size_t) noexcept { release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { release(memory); }
// The non-throwing forms must come from the same heap as the deletes above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return counted(std::malloc(size == 0 ? 1 : size));
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return counted(std::malloc(size == 0 ? 1 : size));
}
void operator delete(void* memory, const std::nothrow_t&) noexcept { release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { release(memory); }
