#include "main/platform_memory.hpp"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

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

namespace {

constexpr std::uintptr_t kStackAhead = std::uintptr_t{128} << 10;

// The lowest address of the process's own stack as mapped now.
std::optional<std::uintptr_t> processStackStart() noexcept {
  std::FILE* maps = std::fopen("/proc/self/maps", "re");
  if (maps == nullptr) return std::nullopt;
  std::optional<std::uintptr_t> start;
  char line[256];
  // A line longer than the buffer comes in pieces; only a whole line counts.
  bool atLineStart = true;
  while (!start && std::fgets(line, sizeof line, maps) != nullptr) {
    const std::string_view text(line);
    const bool whole = text.ends_with('\n');
    if (atLineStart && whole && text.ends_with(" [stack]\n")) {
      std::uintptr_t address = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), address, 16);
      if (error == std::errc{} && *end == '-') start = address;
    }
    atLineStart = whole;
  }
  std::fclose(maps);
  return start;
}

}  // namespace

std::uintptr_t usualStackFloor(std::uintptr_t frame) noexcept {
  const std::uintptr_t page = pageBytes();
  const std::uintptr_t framePage = frame / page * page;
  return framePage > kStackAhead ? framePage - kStackAhead : 0;
}

std::optional<std::size_t> workAddressSpaceLeft(std::uintptr_t stackFloor) noexcept {
  const auto left = addressSpaceLeft();
  if (!left) return std::nullopt;
  const auto start = processStackStart();
  const std::size_t unmapped = start && *start > stackFloor ? *start - stackFloor : 0;
  return *left > unmapped ? *left - unmapped : 0;
}

void reserveStackDownTo(std::uintptr_t lowest) noexcept {
  const auto start = processStackStart();
  if (!start || *start <= lowest) return;
  // Where even this cannot be had the heap has nothing left to lose. The
  // mapping lasts until the run ends.
  (void)::mmap(nullptr, *start - lowest, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
}

void keepOneHeap() noexcept { ::mallopt(M_ARENA_MAX, 1); }

bool heapHolds(std::size_t bytes) noexcept {
  // Kept where the compiler cannot see it unused and leave the call out.
  void* volatile taken = std::malloc(bytes);
  std::free(taken);
  return taken != nullptr;
}

}  // namespace qovrin::main::platform
