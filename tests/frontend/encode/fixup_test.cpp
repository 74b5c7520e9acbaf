#include "frontend/encode/fixup.hpp"

#include <gtest/gtest.h>

namespace {

using frontend::fixup::classifyTargetText;
using frontend::fixup::FixupKind;
using frontend::fixup::FixupRangePolicy;
using frontend::fixup::FixupStore;

TEST(FixupStore, IndexesAreThePreviousLengthAndPolicyStartsAtWrap) {
  FixupStore store;
  const auto first = store.addOwnedTarget(5, {"start", FixupKind::symbol, -4}, true, 1, 32, {{2, 10, 14}, 3});
  const auto second = store.addOwnedTarget(6, {"a + b", FixupKind::expression}, false, 2, 8, {});
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, 0u);
  EXPECT_EQ(*second, 1u);
  EXPECT_EQ(store[0].target.addend, -4);
  EXPECT_TRUE(store[0].pc_relative);
  EXPECT_FALSE(store[1].pc_relative);
  EXPECT_EQ(store[0].range_policy, FixupRangePolicy::wrap);
}

TEST(FixupStore, NamesAreSymbolsEverythingElseExpressions) {
  const std::pair<const char*, FixupKind> cases[] = {
      {"label", FixupKind::symbol},      {"_start", FixupKind::symbol}, {".local$1", FixupKind::symbol},
      {"a.b_c9", FixupKind::symbol},     {"", FixupKind::expression},   {"9lives", FixupKind::expression},
      {"$x", FixupKind::expression},     {"x + 4", FixupKind::expression},
      {"x-4", FixupKind::expression},    {"f(x)", FixupKind::expression},
  };
  for (const auto& [text, kind] : cases) EXPECT_EQ(classifyTargetText(text), kind) << text;
}

}  // namespace
