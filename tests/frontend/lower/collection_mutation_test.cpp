#include <gtest/gtest.h>

#include "lower_test_support.hpp"

namespace {

using frontend::value::ListValue;
using frontend::value::MapValue;
using frontend::value::Value;

// A module with the let list xs = [1, 2, 3], the const list cs = [1] and the
// let map m = {"a": 1}.
frontend::module::Module moduleWithCollections() {
  frontend::module::Module module(frontend::target::Target::x86(64));
  std::vector<Value> items;
  for (std::uint64_t word : {1, 2, 3}) items.push_back(Value::integer(word));
  EXPECT_TRUE(module.defineValue("xs", Value(*ListValue::make(std::move(items))), true, {}));
  std::vector<Value> one;
  one.push_back(Value::integer(1));
  EXPECT_TRUE(module.defineValue("cs", Value(*ListValue::make(std::move(one))), false, {}));
  MapValue map;
  EXPECT_TRUE(map.set("a", Value::integer(1)));
  EXPECT_TRUE(module.defineValue("m", Value(std::move(map)), true, {}));
  return module;
}

std::vector<std::uint64_t> listWords(const frontend::module::Module& module, std::string_view name) {
  std::vector<std::uint64_t> words;
  for (const Value& item : module.findSymbol(name)->value()->value.asList()->items())
    words.push_back(item.asInteger()->word);
  return words;
}

TEST(CollectionMutation, ChangesLetBindingsInPlace) {
  auto module = moduleWithCollections();
  const auto lowered = lower_test::lower(module,
                                         "list.push_mut(xs, 4)\nlist.set_mut(xs, 0, 9)\nmap.set_mut(m, \"b\", 2)\n"
                                         "map.set_mut(m, \"a\", 5)\n");
  EXPECT_TRUE(lowered.status);
  EXPECT_EQ(listWords(module, "xs"), (std::vector<std::uint64_t>{9, 2, 3, 4}));
  const auto* map = module.findSymbol("m")->value()->value.asMap();
  ASSERT_EQ(map->size(), 2u);
  EXPECT_EQ(map->find("a")->asInteger()->word, 5u);
  EXPECT_EQ(map->find("b")->asInteger()->word, 2u);
}

TEST(CollectionMutation, RefusalsAreReportedAtTheCall) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"list.push_mut(cs, 1)\n", "cannot mutate a const collection binding"},
      {"list.push_mut(m, 1)\n", "list.push_mut target must have type list"},
      {"list.push_mut(xs)\n", "invalid collection mutation argument count"},
      {"list.push_mut(xs + 1, 1)\n", "collection mutation target must be a direct let binding"},
      {"list.push_mut(\"xs\", 1)\n", "collection mutation target must be a direct let binding"},
      {"list.push_mut(nothing, 1)\n", "collection mutation target must resolve to a let binding"},
      {"list.set_mut(xs, 3, 1)\n", "list.set_mut index is outside the target list"},
      {"list.set_mut(xs, \"0\", 1)\n", "list.set_mut index must have type integer"},
      {"list.set_mut(m, 0, 1)\n", "list.set_mut target must have type list"},
      {"map.set_mut(m, 1, 1)\n", "map.set_mut key must have type string"},
      {"map.set_mut(xs, \"k\", 1)\n", "map.set_mut target must have type map"},
      {"{\n  const local = 1\n  list.push_mut(local, 1)\n}\n", "cannot mutate a const collection binding"},
  };
  for (const auto& [source, message] : cases) {
    SCOPED_TRACE(source);
    auto module = moduleWithCollections();
    const auto lowered = lower_test::lower(module, source);
    ASSERT_EQ(lowered.diagnostics.size(), 1u);
    EXPECT_TRUE(lowered.diagnostics[0].ends_with(message)) << lowered.diagnostics[0];
    EXPECT_EQ(listWords(module, "xs"), (std::vector<std::uint64_t>{1, 2, 3}));
  }
}

TEST(CollectionMutation, LocalListsChangeForTheirScope) {
  auto module = moduleWithCollections();
  const auto lowered =
      lower_test::lower(module, "let out = 0\n{\n  let copy = xs\n  list.push_mut(copy, 7)\n  out = copy\n}\n");
  EXPECT_TRUE(lowered.status);
  EXPECT_EQ(listWords(module, "out"), (std::vector<std::uint64_t>{1, 2, 3, 7}));
  EXPECT_EQ(listWords(module, "xs"), (std::vector<std::uint64_t>{1, 2, 3}));
}

}  // namespace
