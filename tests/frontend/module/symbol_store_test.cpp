// Symbols read their names back from the source or the module's pool, keep
// their first definition, and stay where they are while many more are added.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/error_of.hpp"
#include "frontend/module/module.hpp"

using qovrin::testing::errorOf;

namespace {

using frontend::SourceLocation;
using frontend::module::Module;
using frontend::symbol::SymbolKind;
using frontend::target::Target;
using frontend::value::Value;
using qovrin::Error;

struct Defined {
  std::string name;
  SourceLocation location;
  bool is_label = false;
};

// Labels on lines of a loaded source ("L<n>:" and, every fifth, "  x = label(\"L<n>\")"
// so that the name stands inside the span), mixed with values whose names the
// source does not hold.
std::vector<Defined> defineMany(Module& module, std::uint32_t count) {
  std::string text;
  std::vector<Defined> defined;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;
  for (std::uint32_t index = 0; index < count; ++index) {
    const std::string name = "L" + std::to_string(index);
    const std::string line = index % 5 == 0 ? "  x = label(\"" + name + "\")" : name + ":";
    spans.emplace_back(static_cast<std::uint32_t>(text.size()), static_cast<std::uint32_t>(text.size() + line.size()));
    text += line + "\n";
  }
  const auto source = module.addSource("many.q", std::move(text));
  EXPECT_TRUE(source);
  for (std::uint32_t index = 0; index < count; ++index) {
    const SourceLocation at{{*source, spans[index].first, spans[index].second}, std::nullopt};
    defined.push_back({"L" + std::to_string(index), at, true});
    EXPECT_TRUE(module.defineAnchoredLabel(defined.back().name, 0, index, index, at));
    if (index % 7 != 0) continue;
    const SourceLocation elsewhere{{*source, spans[index].first, spans[index].first}, index};
    defined.push_back({"value_" + std::to_string(index), elsewhere, false});
    EXPECT_TRUE(module.defineValue(defined.back().name, Value::integer(index), true, elsewhere));
  }
  return defined;
}

void expectAllFound(const Module& module, const std::vector<Defined>& defined) {
  ASSERT_EQ(module.symbols().size(), defined.size());
  for (std::uint32_t position = 0; position < defined.size(); ++position) {
    const Defined& expected = defined[position];
    ASSERT_EQ(module.findSymbolIndex(expected.name), position) << expected.name;
    const auto& symbol = module.symbols()[position];
    EXPECT_EQ(module.symbolName(symbol), expected.name);
    EXPECT_EQ(symbol.location(), expected.location) << expected.name;
    EXPECT_EQ(symbol.kind(), expected.is_label ? SymbolKind::label : SymbolKind::value);
    EXPECT_EQ(symbol.label() != nullptr, expected.is_label);
    EXPECT_EQ(symbol.value() != nullptr, !expected.is_label);
  }
  for (const std::string absent : {"L", "L1:", "l1", "value_1", "value_7 ", "x", "label"})
    EXPECT_EQ(module.findSymbol(absent), nullptr) << absent;
}

TEST(Symbols, EveryNameIsFoundWithItsRecordAcrossGrowth) {
  Module module(Target::x86(64));
  const auto defined = defineMany(module, 5000);
  expectAllFound(module, defined);
  const auto* label = module.findSymbol("L4321")->label();
  EXPECT_EQ(label->offset, 4321u);
  EXPECT_EQ(label->fragment_position, 4321u);
  EXPECT_TRUE(label->anchored);
  EXPECT_EQ(module.findSymbol("value_4319")->value()->value.asInteger()->word, 4319u);

  // Moving the module keeps every name readable.
  const Module moved = std::move(module);
  expectAllFound(moved, defined);
}

TEST(Symbols, ADuplicateKeepsTheFirstDefinition) {
  Module module(Target::x86(64));
  const auto source = module.addSource("dup.q", "a:\na:\nlet a = 1\n");
  ASSERT_TRUE(source);
  const SourceLocation first{{*source, 0, 2}, std::nullopt};
  ASSERT_TRUE(module.defineAnchoredLabel("a", 0, 8, 0, first));
  EXPECT_EQ(errorOf(module.defineAnchoredLabel("a", 0, 16, 1, {{*source, 3, 5}, std::nullopt})),
            Error::DuplicateSymbol);
  EXPECT_EQ(errorOf(module.defineValue("a", Value::integer(1), true, {{*source, 6, 15}, std::nullopt})),
            Error::DuplicateSymbol);
  ASSERT_EQ(module.symbols().size(), 1u);
  EXPECT_EQ(module.findSymbol("a")->location(), first);
  EXPECT_EQ(module.findSymbol("a")->label()->offset, 8u);
}

TEST(Symbols, AValueStaysWhereItIsAndKeepsItsChanges) {
  Module module(Target::x86(64));
  ASSERT_TRUE(module.defineValue("counter", Value::integer(1), true, {}));
  auto* counter = module.findSymbol("counter")->value();
  defineMany(module, 3000);
  EXPECT_EQ(module.findSymbol("counter")->value(), counter);
  counter->value = Value::integer(2);
  EXPECT_EQ(module.findSymbol("counter")->value()->value.asInteger()->word, 2u);
  EXPECT_TRUE(module.findSymbol("counter")->value()->is_mutable);
}

// Names the source cannot give back (too long to point at, or not within the
// span) go to the pool and read back the same.
TEST(Symbols, NamesOutsideTheSpanOrTooLongArePooled) {
  Module module(Target::x86(64));
  const std::string long_name(70000, 'n');
  const auto source = module.addSource("long.q", long_name + ":\nshort:\n");
  ASSERT_TRUE(source);
  const auto end = static_cast<std::uint32_t>(long_name.size() + 1);
  ASSERT_TRUE(module.defineAnchoredLabel(long_name, 0, 0, 0, {{*source, 0, end}, std::nullopt}));
  // The span stops before the name ends.
  ASSERT_TRUE(module.defineAnchoredLabel("short", 0, 0, 0, {{*source, end + 1, end + 3}, std::nullopt}));
  ASSERT_TRUE(module.defineAnchoredLabel("", 0, 0, 0, {}));
  ASSERT_EQ(module.symbols().size(), 3u);
  EXPECT_EQ(module.symbolName(module.symbols()[0]), long_name);
  EXPECT_EQ(module.symbolName(module.symbols()[1]), "short");
  EXPECT_EQ(module.symbolName(module.symbols()[2]), "");
  EXPECT_EQ(module.findSymbolIndex(long_name), 0u);
  EXPECT_EQ(module.findSymbolIndex("short"), 1u);
  EXPECT_EQ(module.findSymbolIndex(""), 2u);
}

}  // namespace
