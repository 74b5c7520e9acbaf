// Statement parsing throughput over a generated source of about 1 MB that
// mixes instructions, labels, API calls, comments and meta blocks the way
// hand-written sources do.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "frontend/syntax/parser.hpp"

namespace {

std::string generatedSource(std::size_t minimum_bytes) {
  std::string source;
  for (std::size_t n = 0; source.size() < minimum_bytes; ++n) {
    const std::string k = std::to_string(n);
    source += "; section " + k + "\n";
    source += "entry_" + k + ":\n";
    source += "    mov eax, " + k + "\n";
    source += "    add rbx, [rsi + 8*rcx + " + k + "]  // scaled index\n";
    source += "    emit.u8(" + k + " & 0xff)\n";
    source += "    db(1, 2, \"text, " + k + "\", P{ x: " + k + ", y: 2 })\n";
    source += "let value_" + k + " = " + k + " * 4 + 1\n";
    source += "if value_" + k + " > 10 && ready {\n";
    source += "    nop\n";
    source += "    emit.u16(value_" + k + ")\n";
    source += "} else if value_" + k + " == 3 {\n";
    source += "    ret\n";
    source += "} else {\n";
    source += "    jmp entry_" + k + "\n";
    source += "}\n";
    source += "while i < 4 {\n";
    source += "    i = i + 1\n";
    source += "}\n";
    source += "for j in range(0, 8) {\n";
    source += "    emit.u32(j << 2,\n";
    source += "             j)\n";
    source += "}\n";
    source += "fn scale_" + k + "(a: u64, b) -> u64 {\n";
    source += "    return a + b * " + k + "\n";
    source += "}\n";
    source += "\n";
  }
  return source;
}

void BM_ParseSource(benchmark::State& state) {
  const std::string source = generatedSource(static_cast<std::size_t>(state.range(0)));
  const auto lines = static_cast<double>(std::count(source.begin(), source.end(), '\n'));
  for (auto _ : state) {
    frontend::parser::Parser parser(source, 0u);
    auto statements = parser.parseSource();
    if (!statements) {
      state.SkipWithError("generated source failed to parse");
      break;
    }
    benchmark::DoNotOptimize(statements->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
  state.counters["lines"] = lines;
  state.counters["lines_per_second"] = benchmark::Counter(lines, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_ParseSource)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
