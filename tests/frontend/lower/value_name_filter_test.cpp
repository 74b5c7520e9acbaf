#include "frontend/lower/value_name_filter.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using frontend::lower::value_name_filter::ValueNameFilter;
using frontend::module::Module;
using frontend::target::Target;
using frontend::value::Value;

// The filter may answer yes for a name no value has, never no for one a value has.
TEST(ValueNameFilter, HoldsEveryValueNameAddedBetweenSyncs) {
  Module module(Target::x86(64));
  ValueNameFilter filter;
  std::vector<std::string> values;
  int held_labels = 0;
  for (int round = 0; round < 4; ++round) {
    for (int index = 0; index < 50; ++index) {
      const std::string name = "v" + std::to_string(round) + "_" + std::to_string(index);
      ASSERT_TRUE(module.defineValue(name, Value::integer(1), false, {}));
      values.push_back(name);
      ASSERT_TRUE(module.defineAnchoredLabel("L" + name, 0, 0, 0, {}));
    }
    filter.sync(module);
    for (const std::string& name : values) EXPECT_TRUE(filter.mayHold(name)) << name;
  }
  for (const std::string& name : values) held_labels += filter.mayHold("L" + name) ? 1 : 0;
  // Labels are never taken in: with 200 values most of them still miss.
  EXPECT_LT(held_labels, static_cast<int>(values.size()));
}

TEST(ValueNameFilter, RulesOutNamesBeforeTheirValueExists) {
  Module module(Target::x86(64));
  ValueNameFilter filter;
  ASSERT_TRUE(module.defineAnchoredLabel("start", 0, 0, 0, {}));
  filter.sync(module);
  EXPECT_FALSE(filter.mayHold("start"));
  EXPECT_FALSE(filter.mayHold("size"));
  ASSERT_TRUE(module.defineValue("size", Value::integer(16), false, {}));
  filter.sync(module);
  EXPECT_TRUE(filter.mayHold("size"));

  // Another, smaller module is read from its start.
  Module other(Target::x86(64));
  ASSERT_TRUE(other.defineValue("width", Value::integer(2), false, {}));
  filter.sync(other);
  EXPECT_TRUE(filter.mayHold("width"));
}

}  // namespace
