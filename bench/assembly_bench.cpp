// Flat assembly of a module of many small data fragments, each with one
// PC-relative fixup to a label, as a large hand-written source gives after
// lowering. Time and memory must grow linearly with the fragment count.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>

#include "assembly/flat.hpp"

namespace {

std::string labelName(std::uint32_t number) {
  std::string name = std::to_string(number);
  name.insert(name.begin(), 'l');
  return name;
}

frontend::module::Module generatedModule(std::uint32_t fragments) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  module.sections()[0].base = 0x400000;
  const std::array<std::uint8_t, 5> call = {0xe8, 0, 0, 0, 0};
  constexpr std::uint32_t kFragmentsPerLabel = 16;
  for (std::uint32_t index = 0; index < fragments; ++index) {
    if (index % kFragmentsPerLabel == 0)
      (void)module.defineAnchoredLabel(labelName(index / kFragmentsPerLabel), 0, 0, index, {});
    (void)module.emitBytes(0, call, {});
    const std::uint32_t next = (index / kFragmentsPerLabel + 1) % (fragments / kFragmentsPerLabel);
    (void)module.fixups().addOwnedTarget(index, {labelName(next)}, true, 1, 32);
  }
  return module;
}

void BM_AssembleFlat(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  auto module = generatedModule(count);
  for (auto _ : state) {
    auto result = assembly::assembleFlat(module, {});
    if (!result || result->pending_fixups != 0) state.SkipWithError("assembly failed");
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetComplexityN(count);
}

BENCHMARK(BM_AssembleFlat)->RangeMultiplier(10)->Range(10'000, 1'000'000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
