// Costs of declaring many struct types and of evaluating names once they
// exist. Lowering is not built yet, so both go through the module's type store
// and the evaluator directly: registering N struct names, and evaluating
// "v123 + 1" with N types declared. Both must grow linearly with N: the
// items-per-second rate may sag somewhat as the tables outgrow the caches,
// but must not fall in proportion to N.

#include <benchmark/benchmark.h>

#include <string>

#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/type_name.hpp"

namespace {

using frontend::module::Module;
using frontend::target::Target;

// prefix followed by the index; built by appending, since "S" + std::string
// trips a false -Wrestrict warning of g++ 12 at -O3.
std::string numbered(char prefix, std::size_t index) {
  std::string name(1, prefix);
  name += std::to_string(index);
  return name;
}

// Declares count structs S0 ... S<count-1> of one u32 field each.
bool declareStructs(Module& module, std::size_t count) {
  const auto word = module.getOrAddIntType("u32", 32, false);
  if (!word) return false;
  for (std::size_t index = 0; index < count; ++index) {
    auto aggregate = frontend::types::layOutAggregate(module.types(), numbered('S', index),
                                                      {{"a", 0, {}, *word}}, false, false);
    if (!aggregate || !frontend::type_name::addAggregateType(module.typeTables(), std::move(*aggregate))) return false;
  }
  return true;
}

void BM_DeclareStructs(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    Module module(Target::x86(64));
    if (!declareStructs(module, count)) {
      state.SkipWithError("declaration failed");
      break;
    }
    benchmark::DoNotOptimize(module.types().size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// With count structs and count values v0 ... declared, evaluates "v123 + 1"
// count times.
void BM_EvaluateNamesAmongTypes(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  Module module(Target::x86(64));
  if (!declareStructs(module, count)) {
    state.SkipWithError("declaration failed");
    return;
  }
  for (std::size_t index = 0; index < count; ++index) {
    if (!module.defineValue(numbered('v', index), frontend::value::Value::integer(index), false, {})) {
      state.SkipWithError("definition failed");
      return;
    }
  }
  const auto node = frontend::expr::parseOwned("v123 + 1");
  const frontend::expr::EvaluationContext context{module};
  for (auto _ : state) {
    for (std::size_t index = 0; index < count; ++index) {
      auto value = frontend::expr::evaluateValue(*node, context);
      if (!value) {
        state.SkipWithError("evaluation failed");
        return;
      }
      benchmark::DoNotOptimize(value);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_DeclareStructs)->RangeMultiplier(4)->Range(3'125, 50'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EvaluateNamesAmongTypes)->RangeMultiplier(4)->Range(3'125, 50'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
