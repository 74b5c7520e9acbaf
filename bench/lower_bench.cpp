// Lowering throughput: long straight runs of let and assignment statements
// (at top level as module values, inside a block as locals of one scope) and
// a meta loop of a million rounds. Reports statements per second; the
// per-statement rate must stay flat as the statement count grows.

#include <benchmark/benchmark.h>

#include <string>

#include "frontend/lower/root.hpp"

namespace {

std::string declarations(std::size_t count, bool in_block) {
  std::string source = in_block ? "{\n" : "";
  for (std::size_t index = 0; index < count; index += 2) {
    // Appended piece by piece: g++ -O3 misreads chains of temporaries.
    const std::string number = std::to_string(index);
    source.append("let v").append(number).append(" = ").append(number).append("\n");
    source.append("v").append(number).append(" = v").append(number).append(" + 1\n");
  }
  if (in_block) source += "}\n";
  return source;
}

void lowerOnce(benchmark::State& state, const std::string& source) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  const auto lowered = frontend::lower::root::lowerSourceIntoModuleWithPathOptions(module, "bench.qov", source, {});
  if (!lowered) state.SkipWithError("lowering failed");
}

void BM_StraightStatements(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const std::string source = declarations(count, state.range(1) != 0);
  for (auto _ : state) lowerOnce(state, source);
  state.counters["statements/s"] =
      benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StraightStatements)->ArgsProduct({{10'000, 100'000}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_MetaLoopRounds(benchmark::State& state) {
  const std::string source = "let i = 0\nwhile i < 1000000 {\n  i = i + 1\n}\n";
  for (auto _ : state) lowerOnce(state, source);
  state.counters["statements/s"] = benchmark::Counter(1'000'000.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MetaLoopRounds)->Unit(benchmark::kMillisecond);

// Two statements per round, each round in a scope of its own.
void BM_LoopBodyStatements(benchmark::State& state) {
  const std::string source = "let total = 0\nfor k in range(0, 100000) {\n  let x = k\n  total = total + x\n}\n";
  for (auto _ : state) lowerOnce(state, source);
  state.counters["statements/s"] = benchmark::Counter(200'000.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoopBodyStatements)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
