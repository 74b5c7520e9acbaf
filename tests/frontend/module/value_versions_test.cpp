#include "frontend/module/module.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace {

using frontend::module::Module;
using frontend::target::Target;
using frontend::value::Value;

std::uint64_t wordOf(const Value* value) { return value == nullptr ? ~std::uint64_t{0} : value->asInteger()->word; }

// A snapshot reads each value as it was when it was taken and no symbol
// defined later; a write keeps the value it replaces only while a held
// snapshot reads it, so that without snapshots nothing is kept.
TEST(ValueVersions, KeepOnlyWhatHeldSnapshotsRead) {
  Module module(Target::x86(64));
  ASSERT_TRUE(module.defineValue("g", Value::integer(1), true, {}));
  frontend::symbol::ValueSymbol& g = *module.findSymbol("g")->value();
  module.writableValue(g) = Value::integer(2);
  EXPECT_TRUE(g.earlier.empty());

  auto first = module.snapshotValues();
  module.writableValue(g) = Value::integer(3);
  module.writableValue(g) = Value::integer(4);
  EXPECT_EQ(g.earlier.size(), 1u);
  auto again = module.snapshotValues();
  EXPECT_EQ(again, module.snapshotValues());
  module.writableValue(g) = Value::integer(5);
  ASSERT_TRUE(module.defineValue("later", Value::integer(6), true, {}));
  EXPECT_EQ(wordOf(module.valueAt("g", *first)), 2u);
  EXPECT_EQ(wordOf(module.valueAt("g", *again)), 4u);
  EXPECT_EQ(module.valueAt("later", *again), nullptr);

  // A value no held snapshot reads goes at the next write.
  again.reset();
  module.writableValue(g) = Value::integer(7);
  EXPECT_EQ(g.earlier.size(), 1u);
  EXPECT_EQ(wordOf(module.valueAt("g", *first)), 2u);
  first.reset();
  module.writableValue(g) = Value::integer(8);
  EXPECT_TRUE(g.earlier.empty());
  EXPECT_EQ(wordOf(&g.value), 8u);
}

// The deepest capture among the values follows every write, down as well
// as up.
TEST(ValueVersions, DeepestCaptureFollowsWrites) {
  Module module(Target::x86(64));
  auto environment = std::make_shared<frontend::value::OperandEnvironment>();
  environment->capture_depth = 5;
  auto operand = frontend::value::OperandValue::make({frontend::value::OperandPiece{"x", environment}});
  ASSERT_TRUE(operand);
  ASSERT_TRUE(module.defineValue("plain", Value::integer(1), true, {}));
  EXPECT_EQ(module.deepestValueCapture(), 0u);
  ASSERT_TRUE(module.defineValue("kept", Value(std::move(*operand)), true, {}));
  EXPECT_EQ(module.deepestValueCapture(), 5u);
  module.writableValue(*module.findSymbol("kept")->value()) = Value::integer(2);
  EXPECT_EQ(module.deepestValueCapture(), 0u);
}

}  // namespace
