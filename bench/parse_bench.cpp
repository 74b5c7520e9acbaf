// Statement parsing throughput over a generated source of about 1 MB that
// mixes instructions, labels, API calls, comments and meta blocks the way
// hand-written sources do.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <string_view>

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

std::string repeated(std::string_view piece, std::size_t count) {
  std::string text;
  text.reserve(piece.size() * count);
  for (std::size_t index = 0; index < count; ++index) text += piece;
  return text;
}

std::string parameters(std::size_t count) {
  std::string list = "p0";
  for (std::size_t index = 1; index < count; ++index) list += ", p" + std::to_string(index);
  return list;
}

// Lines of n pieces that a hostile source may hold, each refused or parsed
// in time linear in n: the fitted complexity shows it as O(N) on a quiet
// machine, where a search through the pieces seen so far or a copy of the
// rest of the line at every piece makes it O(N^2).
enum class Hostile { nesting, fnParameters, macroParameters, callArguments };

std::string hostileLine(Hostile kind, std::size_t n) {
  switch (kind) {
    case Hostile::nesting:
      return "let x = " + repeated("P{a: ", n) + "1" + repeated("}", n) + "\n";
    case Hostile::fnParameters:
      return "fn f(" + parameters(n) + ") {\n}\n";
    case Hostile::macroParameters:
      return "macro m(" + parameters(n) + ", p7) {\n}\n";
    case Hostile::callArguments:
      break;
  }
  return "emit.u8(" + repeated("1, ", n) + "1)\n";
}

void BM_HostileLine(benchmark::State& state, Hostile kind) {
  const std::string source = hostileLine(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    frontend::parser::Parser parser(source, 0u);
    auto statements = parser.parseSource();
    benchmark::DoNotOptimize(statements);
  }
  state.SetComplexityN(state.range(0));
}

// Sizes n, 2n and 4n up to the size of the line the tests parse, the time
// fitted to a complexity.
void sizedUpTo(benchmark::internal::Benchmark* family, std::int64_t largest) {
  family->RangeMultiplier(2)->Range(largest / 4, largest)->Complexity(benchmark::oAuto)->Unit(benchmark::kMillisecond);
}
void upToAMillion(benchmark::internal::Benchmark* family) { sizedUpTo(family, 1'000'000); }
void upToAHundredThousand(benchmark::internal::Benchmark* family) { sizedUpTo(family, 100'000); }

BENCHMARK_CAPTURE(BM_HostileLine, nesting, Hostile::nesting)->Apply(upToAMillion);
BENCHMARK_CAPTURE(BM_HostileLine, fn_parameters, Hostile::fnParameters)->Apply(upToAHundredThousand);
BENCHMARK_CAPTURE(BM_HostileLine, macro_parameters, Hostile::macroParameters)->Apply(upToAHundredThousand);
BENCHMARK_CAPTURE(BM_HostileLine, call_arguments, Hostile::callArguments)->Apply(upToAHundredThousand);

}  // namespace

BENCHMARK_MAIN();
