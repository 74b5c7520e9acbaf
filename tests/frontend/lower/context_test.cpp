#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/error_of.hpp"
#include "frontend/lower/context.hpp"

namespace {

namespace context = frontend::lower::context;
using frontend::value::Value;
using qovrin::Error;
using qovrin::testing::errorOf;

// Built by append: g++ -O3 misreads localName(index).
std::string localName(int index) {
  std::string name = "n";
  name += std::to_string(index);
  return name;
}

std::uint64_t wordOf(const Value* value) { return value == nullptr ? ~std::uint64_t{0} : value->asInteger()->word; }

// Scopes small enough to scan and large enough to index must find the same
// local: the innermost binding, whatever its position in its scope.
TEST(MetaScopes, LookupsAgreeAcrossScopeSizes) {
  for (const int count : {1, 7, 8, 9, 40}) {
    SCOPED_TRACE(count);
    context::LowerContext state({});
    state.scopes.emplace_back();
    for (int index = 0; index < count; ++index)
      ASSERT_TRUE(context::defineLocalValue(state, localName(index), Value::integer(index), true));
    state.scopes.emplace_back();
    for (int index = 0; index < count; index += 2)
      ASSERT_TRUE(context::defineLocalValue(state, localName(index), Value::integer(100 + index), false));

    for (int index = 0; index < count; ++index) {
      const std::string name = localName(index);
      const std::uint64_t expected = index % 2 == 0 ? 100 + index : index;
      EXPECT_EQ(wordOf(context::lookupLocalValue(state, name)), expected) << name;
      const auto state_of = context::lookupMutableLocalValue(state, name).state;
      EXPECT_EQ(state_of, index % 2 == 0 ? context::MutableLookup::immutable : context::MutableLookup::found);
    }
    EXPECT_EQ(errorOf(context::defineLocalValue(state, "n0", Value::integer(1), true)), Error::DuplicateSymbol);
    EXPECT_EQ(context::lookupLocalValue(state, "absent"), nullptr);

    context::discardLastScope(state);
    EXPECT_EQ(wordOf(context::lookupLocalValue(state, "n0")), 0u);
    EXPECT_EQ(wordOf(context::lookupLocalValue(state, localName(count - 1))), static_cast<std::uint64_t>(count - 1));
  }
}

TEST(MetaScopes, AssignAndDefineRules) {
  context::LowerContext state({});
  EXPECT_EQ(errorOf(context::defineLocalValue(state, "a", Value::integer(1), true)), Error::InvalidMetaBlock);
  EXPECT_EQ(context::setLocalValue(state, "a", Value::integer(1)), false);
  context::discardLastScope(state);  // nothing open: nothing happens

  {
    const context::ScopeGuard outer(state);
    ASSERT_TRUE(context::defineLocalValue(state, "a", Value::integer(1), true));
    ASSERT_TRUE(context::defineLocalValue(state, "c", Value::integer(2), false));
    {
      const context::ScopeGuard inner(state);
      EXPECT_EQ(context::setLocalValue(state, "a", Value::integer(5)), true);
      EXPECT_EQ(errorOf(context::setLocalValue(state, "c", Value::integer(5))), Error::InvalidValueDeclaration);
      EXPECT_EQ(context::setLocalValue(state, "b", Value::integer(5)), false);
    }
    EXPECT_EQ(state.scopes.size(), 1u);
    EXPECT_EQ(wordOf(context::lookupLocalValue(state, "a")), 5u);
    EXPECT_EQ(wordOf(context::lookupLocalValue(state, "c")), 2u);

    const auto copy = context::resolveLocalValue(state, "a");
    ASSERT_TRUE(copy && *copy);
    EXPECT_EQ((*copy)->asInteger()->word, 5u);
    const auto absent = context::resolveLocalValue(state, "b");
    ASSERT_TRUE(absent);
    EXPECT_FALSE(absent->has_value());
  }
  EXPECT_TRUE(state.scopes.empty());
}

}  // namespace

namespace {

// A capture reads every module value as it was when it was taken, whatever
// is written or defined later, and holds every local; a local replaces a
// module value of the same name, and a label is no value.
TEST(OperandCapture, EveryModuleValueAsItWasAndEveryLocal) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  for (const char* name : {"a", "b", "shared"}) ASSERT_TRUE(module.defineValue(name, Value::integer(1), true, {}));
  ASSERT_TRUE(module.defineAnchoredLabel("start", 0, 0, 0, {}));
  context::LowerContext state({});
  const context::ScopeGuard scope(state);
  ASSERT_TRUE(context::defineLocalValue(state, "local", Value::integer(2), false));
  ASSERT_TRUE(context::defineLocalValue(state, "shared", Value::integer(3), false));
  frontend::symbol::ValueSymbol& a = *module.findSymbol("a")->value();
  const auto first = context::captureOperandEnvironment(state, module);
  ASSERT_TRUE(first);
  module.writableValue(a) = Value::integer(4);
  const auto second = context::captureOperandEnvironment(state, module);
  ASSERT_TRUE(second);
  module.writableValue(a) = Value::integer(5);
  ASSERT_TRUE(module.defineValue("later", Value::integer(6), true, {}));

  const std::uint64_t none = ~std::uint64_t{0};
  struct Row {
    std::string name;
    std::uint64_t first;
    std::uint64_t second;
  };
  const std::vector<Row> rows = {
      {"a", 1, 4}, {"b", 1, 1}, {"shared", 3, 3}, {"local", 2, 2}, {"later", none, none}, {"start", none, none},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(wordOf(context::environmentBinding(module, **first, row.name)), row.first);
    EXPECT_EQ(wordOf(context::environmentBinding(module, **second, row.name)), row.second);
  }
  EXPECT_EQ(a.value.asInteger()->word, 5u);
  EXPECT_EQ((*first)->capture_depth, 1u);
}

}  // namespace
