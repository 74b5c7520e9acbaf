#include "frontend/failing_allocation.hpp"

#include <cstdlib>

namespace {

// Per thread, so that an armed test cannot fail another thread's allocation.
thread_local std::size_t countdown_ = 0;

void* allocate(std::size_t size) {
  if (countdown_ != 0 && --countdown_ == 0) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

}  // namespace

namespace frontend::testing {

FailingAllocation::FailingAllocation(std::size_t countdown) noexcept { countdown_ = countdown; }
FailingAllocation::~FailingAllocation() { countdown_ = 0; }

}  // namespace frontend::testing

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
// The non-throwing forms must come from the same heap as the deletes above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
