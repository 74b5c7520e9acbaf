// Encoding allocates nothing per instruction: the record lives on the stack
// and the result keeps its units in place. Every allocation of this test
// binary is counted to check it.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string_view>

#include "x86_encoder/api.hpp"

namespace {
std::atomic<std::size_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
// Kept out of line: inlined where gtest news a test, g++ 12 would see free()
// take a pointer that came from operator new and refuse to build.
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace x86_encoder::testing {
namespace {

struct Line {
  std::string_view mnemonic;
  std::array<std::string_view, 4> operands;
  std::size_t count;
};

TEST(EncodeAllocation, NoneForCommonInstructions) {
  constexpr Line kLines[] = {
      {"mov", {"rax", "qword [rbp-8]"}, 2},
      {"add", {"rsp", "0x28"}, 2},
      {"lea", {"rcx", "[rax+rdx*4+16]"}, 2},
      {"vaddps", {"zmm0{k1}{z}", "zmm1", "[rax+256]"}, 3},
      {"vaddps", {"zmm0", "zmm1", "zmm2", "{rn-sae}"}, 4},
      {"jmp", {"0x1000"}, 1},
      {"lock", {}, 0},
      {"foo", {"eax"}, 1},
  };
  api::X86EncodeOptions options;
  options.bits = 64;
  encode::OwnedEncodeResult result;
  const std::size_t before = allocations.load();
  std::size_t encoded = 0;
  for (const Line& line : kLines)
    encoded += api::encodeBuiltinUnitsWithResolver(result, line.mnemonic, std::span(line.operands).first(line.count),
                                                   options, {})
                   ? 1
                   : 0;
  EXPECT_EQ(allocations.load() - before, 0u);
  EXPECT_EQ(encoded, std::size(kLines) - 1);
}

}  // namespace
}  // namespace x86_encoder::testing
