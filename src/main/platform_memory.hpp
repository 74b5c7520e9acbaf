#pragma once
// What the process may still map under a limit on its address space, and how
// its heap is kept within it.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qovrin::main::platform {

// The bytes of address space the process may still map under its limit;
// nothing when it has no limit or its size cannot be read.
std::optional<std::size_t> addressSpaceLeft() noexcept;

// Where the process's own stack reaches under the usual stack limit, seen
// from a frame near its top: the system maps 128 KiB ahead of the program's
// arguments at start-up, less only where the stack limit is smaller.
std::uintptr_t usualStackFloor(std::uintptr_t frame) noexcept;

// The address space a limit leaves for the work's stack and heap, with the
// process's own stack counted as reaching `stackFloor` at least, so that a
// smaller stack limit never leaves more; nothing without a limit.
std::optional<std::size_t> workAddressSpaceLeft(std::uintptr_t stackFloor) noexcept;

// Reserves, unused, the address space from `lowest` up to where the
// process's own stack is mapped now. The stack then takes its share of the
// limit whether the stack limit lets it use all of it or not, and the heap
// gets what it would get under a larger stack limit, never more.
void reserveStackDownTo(std::uintptr_t lowest) noexcept;

std::size_t pageBytes() noexcept;

// Makes every thread allocate from the one heap the process starts with. A
// thread's own heap would reserve 64 MiB of address space or more for a run
// that may use a few, and under a limit on the address space, where it
// cannot be had, each allocation would map pages of its own.
void keepOneHeap() noexcept;

// The heap a run needs before it can fail by its own rules: more than the
// C++ runtime sets aside at start-up for throwing exceptions. Where that
// could not be had, a failed allocation would end the process by an abort.
inline constexpr std::size_t kLeastHeap = std::size_t{128} << 10;

// Whether `bytes` can be allocated now; they are given back at once.
bool heapHolds(std::size_t bytes) noexcept;

}  // namespace qovrin::main::platform
