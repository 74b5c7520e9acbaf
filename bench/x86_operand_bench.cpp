// Operand parsing throughput over a mix of the operands that compiler output
// and hand-written code use most: registers, small and large immediates,
// stack and array addresses, and labels that need the resolver.

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <string_view>

#include "x86_encoder/operand_parse.hpp"

namespace {

using x86_encoder::api::X86ExpressionResolver;
using x86_encoder::api::X86Instruction;
using x86_encoder::api::X86ResolvedExpression;

constexpr std::array<std::string_view, 32> kOperands = {
    "eax",
    "rbx",
    "rsp",
    "r12d",
    "xmm3",
    "zmm1 {k2}{z}",
    "al",
    "rdi",
    "1",
    "0x80",
    "-8",
    "0FFh",
    "4096",
    "'ab'",
    "strict byte 1",
    "loop_head",
    "[rbp-8]",
    "dword [rax+rcx*4+16]",
    "qword ptr [rsp+0x20]",
    "[rbx]",
    "byte [rsi+rdx]",
    "[rip_table + rax*8]",
    "es:[di]",
    "[rbp + frame_size - 16]",
    "ymm7",
    "ecx",
    "0x7fffffff",
    "[r13+r14*2-0x40]",
    "zmm0+3",
    "[a32 dword 0x10]",
    "short done",
    "[rdx + 18446744073709551608]",
};

// Constants are known, every other name is a forward reference; no allocation.
qovrin::Result<std::optional<X86ResolvedExpression>> resolveForBench(void*, std::string_view text) {
  if (text == "frame_size - 16") return X86ResolvedExpression{48, true, true, false};
  return X86ResolvedExpression{0, false, false, true};
}

void parseOperandMix(benchmark::State& state) {
  constexpr std::size_t kPerIteration = 1'000'000;
  const X86ExpressionResolver resolver{nullptr, &resolveForBench, true};
  for (auto _ : state) {
    for (std::size_t i = 0; i < kPerIteration; ++i) {
      X86Instruction context;
      auto operand = x86_encoder::api::parseOperandText(context, kOperands[i % kOperands.size()], resolver);
      benchmark::DoNotOptimize(operand);
    }
  }
  state.counters["operands_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kPerIteration), benchmark::Counter::kIsRate);
}

BENCHMARK(parseOperandMix)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
