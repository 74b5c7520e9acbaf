// Name lookups run for every x86 instruction line (the mnemonic) and for
// nearly every operand (registers), so their rate bounds the encoder's.

#include <benchmark/benchmark.h>

#include <array>
#include <string_view>

#include "x86_encoder/tables.hpp"

namespace {

namespace tables = x86_encoder::tables;

// A mix as source text has it: common and rare names, upper case, misses.
constexpr std::array<std::string_view, 16> kMnemonics{
    "mov",       "ADD",        "jmp",    "call", "push", "pop",   "lea", "cmp",
    "vpdpbusds", "hint_nop63", "Vaddps", "ret",  "xor",  "label", "foo", "movzx",
};
constexpr std::array<std::string_view, 16> kRegisters{
    "eax", "RSP", "r15d", "zmm31", "k1", "xmm0", "cl", "ds", "bx", "ymm7", "st0", "tmm3", "r8b", "rip", "x", "cr8",
};

template <typename Lookup>
void runLookups(benchmark::State& state, const std::array<std::string_view, 16>& names, Lookup lookup) {
  for (auto _ : state) {
    for (const auto name : names) benchmark::DoNotOptimize(lookup(name));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * names.size()));
}

void mnemonicLookup(benchmark::State& state) { runLookups(state, kMnemonics, tables::findMnemonic); }
void registerLookup(benchmark::State& state) { runLookups(state, kRegisters, tables::findRegister); }

// The same searches done as plain first-match scans, for comparison.
void mnemonicScan(benchmark::State& state) {
  runLookups(state, kMnemonics, [](std::string_view text) {
    for (std::size_t row = 0; row < tables::kMnemonicCount; ++row) {
      const auto name = tables::x86_mnemonic_names[row];
      if (name.size() != text.size()) continue;
      bool equal = true;
      for (std::size_t i = 0; i < name.size() && equal; ++i)
        equal = name[i] == (text[i] >= 'A' && text[i] <= 'Z' ? text[i] + ('a' - 'A') : text[i]);
      if (equal) return row;
    }
    return tables::kMnemonicCount;
  });
}

BENCHMARK(mnemonicLookup);
BENCHMARK(registerLookup);
BENCHMARK(mnemonicScan);

}  // namespace

BENCHMARK_MAIN();
