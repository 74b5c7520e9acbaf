// Whole-instruction encoding throughput over a mix of legacy, SSE, AVX and
// AVX-512 instructions with register, immediate and memory operands, as the
// encode pass hands them over: mnemonic and operand texts already split.

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "x86_encoder/api.hpp"
#include "x86_encoder/match_memo.hpp"

namespace {

using x86_encoder::api::X86EncodeOptions;
using x86_encoder::api::X86ExpressionResolver;

struct Line {
  std::string_view mnemonic;
  std::array<std::string_view, 4> operands;
  std::size_t count;
};

constexpr std::array<Line, 24> kLines = {{
    {"mov", {"eax", "ebx"}, 2},
    {"mov", {"rax", "qword [rbp-8]"}, 2},
    {"add", {"rsp", "0x28"}, 2},
    {"lea", {"rcx", "[rax+rdx*4+16]"}, 2},
    {"push", {"rbp"}, 1},
    {"pop", {"r12"}, 1},
    {"cmp", {"dword [rdi+8]", "100"}, 2},
    {"xor", {"r9d", "r9d"}, 2},
    {"imul", {"eax", "ebx", "5"}, 3},
    {"ret", {}, 0},
    {"movaps", {"xmm0", "[rsi]"}, 2},
    {"addps", {"xmm1", "xmm2"}, 2},
    {"pshufd", {"xmm3", "xmm4", "0x1b"}, 3},
    {"cvtsi2sd", {"xmm5", "rax"}, 2},
    {"vaddps", {"ymm0", "ymm1", "ymm2"}, 3},
    {"vmovdqu", {"ymm8", "[r12+64]"}, 2},
    {"vfmadd231ps", {"xmm1", "xmm2", "xmm3"}, 3},
    {"vpxor", {"xmm9", "xmm10", "xmm11"}, 3},
    {"vaddps", {"zmm0{k1}{z}", "zmm1", "[rax+256]"}, 3},
    {"vmovdqu32", {"zmm2", "[rbx+rcx*8]"}, 2},
    {"vpaddd", {"zmm3", "zmm4", "[rax+16]{1to16}"}, 3},
    {"vaddps", {"zmm0", "zmm1", "zmm2", "{rn-sae}"}, 4},
    {"mov", {"r31", "[r20+r21*8]"}, 2},
    {"shl", {"eax", "3"}, 2},
}};

// With a memo, as the encode pass runs: the mix repeats its lines, so after
// the first round every search is remembered.
void encodeMix(benchmark::State& state, x86_encoder::match::MatchMemo* memo) {
  constexpr std::size_t kPerIteration = 1'000'000;
  X86EncodeOptions options;
  options.bits = 64;
  options.match_memo = memo;
  const X86ExpressionResolver resolver{};
  x86_encoder::encode::OwnedEncodeResult result;
  std::size_t failures = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPerIteration; ++i) {
      const Line& line = kLines[i % kLines.size()];
      const auto status = x86_encoder::api::encodeBuiltinUnitsWithResolver(
          result, line.mnemonic, std::span(line.operands).first(line.count), options, resolver);
      failures += status ? 0 : 1;
      benchmark::DoNotOptimize(result);
    }
  }
  if (failures != 0) state.SkipWithError("an instruction of the mix failed to encode");
  state.counters["instructions_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kPerIteration), benchmark::Counter::kIsRate);
}

void encodeInstructionMix(benchmark::State& state) { encodeMix(state, nullptr); }

void encodeInstructionMixRemembered(benchmark::State& state) {
  x86_encoder::match::MatchMemo memo;
  encodeMix(state, &memo);
}

BENCHMARK(encodeInstructionMix)->Unit(benchmark::kMillisecond);
BENCHMARK(encodeInstructionMixRemembered)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
