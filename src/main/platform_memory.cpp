#include "main/platform_memory.hpp"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace qovrin::main::platform {

std::size_t pageBytes() noexcept { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }

std::optional<std::size_t> addressSpaceLeft() noexcept {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  std::FILE* statm = std::fopen("/proc/self/statm", "re");
  if (statm == nullptr) return std::nullopt;
  unsigned long pages = 0;
  const bool read = std::fscanf(statm, "%lu", &pages) == 1;
  std::fclose(statm);
  if (!read) return std::nullopt;
  const std::size_t mapped = pages * pageBytes();
  return limit.rlim_cur > mapped ? limit.rlim_cur - mapped : 0;
}

void keepOneHeap() noexcept { ::mallopt(M_ARENA_MAX, 1); }

bool heapHolds(std::size_t bytes) noexcept {
  // Kept where the compiler cannot see it unused and leave the call out.
  void* volatile taken = std::malloc(bytes);
  std::free(taken);
  return taken != nullptr;
}

}  // namespace qovrin::main::platform
