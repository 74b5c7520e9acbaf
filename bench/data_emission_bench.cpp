// Data emission throughput: straight runs of db calls (alone, or each
// followed by an alignment), and a meta loop that emits one byte per round. Reports calls per second and fragments per
// call; the per-call rate must stay flat from 100,000 to 1,000,000 calls, so that emission is linear in the number of
// calls.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "frontend/lower/root.hpp"

namespace {

// count db calls; with aligned, each is followed by an align(2), which
// measures the write position again.
std::string dataCalls(std::size_t count, bool aligned) {
  std::string source;
  source.reserve(count * 22);
  for (std::size_t index = 0; index < count; ++index) {
    const std::string number = std::to_string(index & 0xff);
    source.append("db(").append(number).append(")\n");
    if (aligned) source.append("align(2)\n");
  }
  return source;
}

// What one lowering produced. Consecutive data lines join one run, which
// keeps a record per line; any other bytes fragment holds a single line.
struct Produced {
  std::size_t lines = 0;
  std::size_t bytes = 0;
  std::size_t alignments = 0;
};

Produced producedBy(const frontend::module::Module& module) {
  Produced produced;
  for (const auto& piece : module.fragments()) {
    if (piece.alignment() != nullptr) ++produced.alignments;
    const auto* data = piece.bytes();
    if (data == nullptr) continue;
    produced.bytes += data->data.size();
    produced.lines += std::max<std::size_t>(module.linesOf(piece).size(), 1);
  }
  return produced;
}

// Every call in the benchmarks emits one byte, so count calls must leave count
// lines of one byte each, plus an alignment per call when aligned. Checked
// with the clock paused, so that the walk over the fragments is not timed.
void lowerOnce(benchmark::State& state, const std::string& source, std::size_t count, bool aligned) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  const auto lowered = frontend::lower::root::lowerSourceIntoModuleWithPathOptions(module, "bench.qov", source, {});
  state.PauseTiming();
  const Produced produced = producedBy(module);
  state.counters["fragments/call"] = static_cast<double>(module.fragments().size()) / static_cast<double>(count);
  state.ResumeTiming();
  if (!lowered || produced.lines != count || produced.bytes != count || produced.alignments != (aligned ? count : 0))
    state.SkipWithError("lowering failed");
}

void BM_StraightDataCalls(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const bool aligned = state.range(1) != 0;
  const std::string source = dataCalls(count, aligned);
  for (auto _ : state) lowerOnce(state, source, count, aligned);
  state.counters["calls/s"] =
      benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StraightDataCalls)->ArgsProduct({{100'000, 1'000'000}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_LoopDataCalls(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const std::string source = "for i in range(0, " + std::to_string(count) + ") {\n  db(i & 0xff)\n}\n";
  for (auto _ : state) lowerOnce(state, source, count, false);
  state.counters["calls/s"] =
      benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoopDataCalls)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
