#include "frontend/encode/fixup.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

using frontend::fixup::classifyTargetText;
using frontend::fixup::FixupKind;
using frontend::fixup::FixupRangePolicy;
using frontend::fixup::FixupStore;
using frontend::fixup::FixupTarget;

TEST(FixupStore, IndexesAreThePreviousLengthAndPolicyStartsAtWrap) {
  FixupStore store;
  const auto first = store.addOwnedTarget(5, {"start", FixupKind::symbol, -4}, true, 1, 32);
  const auto second = store.addOwnedTarget(6, {"a + b", FixupKind::expression}, false, 2, 8);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, 0u);
  EXPECT_EQ(*second, 1u);
  EXPECT_EQ(store.target(store[0]).addend, -4);
  EXPECT_TRUE(store[0].pc_relative);
  EXPECT_FALSE(store[1].pc_relative);
  EXPECT_EQ(store[0].range_policy, FixupRangePolicy::wrap);
}

TEST(FixupStore, TargetsComeBackAsAddedAfterTheCallersTextIsGone) {
  const FixupTarget added[] = {{"loop", FixupKind::symbol, 0},
                               {"", FixupKind::expression, -1},
                               {"table + 8 * 3", FixupKind::expression, 7},
                               {"loop", FixupKind::symbol, std::numeric_limits<std::int64_t>::min()}};
  FixupStore store;
  for (const FixupTarget& target : added) {
    std::string borrowed(target.text);
    ASSERT_TRUE(store.addOwnedTarget(0, {borrowed, target.kind, target.addend}, false, 0, 8));
    borrowed.assign(borrowed.size(), '#');
  }
  ASSERT_EQ(store.size(), std::size(added));
  for (std::uint32_t index = 0; index < store.size(); ++index) {
    const FixupTarget kept = store.target(store[index]);
    EXPECT_EQ(kept.text, added[index].text) << index;
    EXPECT_EQ(kept.kind, added[index].kind) << index;
    EXPECT_EQ(kept.addend, added[index].addend) << index;
  }
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

// Fixups added in fragment order and out of it: a drop reaches exactly the
// fragment's own, also after more were added.
TEST(FixupStore, DropsTheFixupsOfOneFragmentInAnyOrder) {
  const std::vector<std::vector<std::uint32_t>> orders = {{1, 1, 2, 4, 4, 4, 7}, {4, 1, 7, 4, 2, 1, 4}};
  for (const auto& order : orders) {
    FixupStore store;
    for (const std::uint32_t fragment : order) ASSERT_TRUE(store.addOwnedTarget(fragment, {"x"}, false, 0, 8));
    store.dropFragment(4);
    store.dropFragment(3);
    ASSERT_TRUE(store.addOwnedTarget(0, {"y"}, false, 0, 8));
    ASSERT_TRUE(store.addOwnedTarget(1, {"y"}, false, 0, 8));
    store.dropFragment(1);
    for (std::uint32_t index = 0; index < store.size(); ++index) {
      const std::uint32_t fragment = store[index].fragment;
      EXPECT_EQ(store[index].dropped, fragment == 4 || fragment == 1) << index;
    }
  }
}

std::vector<bool> droppedFlags(const FixupStore& store) {
  std::vector<bool> flags;
  for (std::uint32_t index = 0; index < store.size(); ++index) flags.push_back(store[index].dropped);
  return flags;
}

// A run's lines in offset order, the fields within a line in the encoder's:
// a drop reaches the fixups of the lines its range names, whether or not the
// store is in fragment order, also after the newest moved into the run.
TEST(FixupStore, DropsTheFixupsOfTheLinesInARange) {
  for (const bool ordered : {true, false}) {
    FixupStore store;
    if (!ordered) {
      ASSERT_TRUE(store.addOwnedTarget(9, {"z"}, false, 0, 8));
    }
    for (const std::uint32_t offset : {1u, 9u, 6u}) ASSERT_TRUE(store.addOwnedTarget(2, {"x"}, false, offset, 32));
    store.dropRange(2, 5, 12);
    ASSERT_TRUE(store.addOwnedTarget(3, {"y"}, false, 1, 32));
    store.moveNewest(3, 2, 12);
    ASSERT_TRUE(store.addOwnedTarget(3, {"w"}, false, 0, 8));
    const std::uint32_t last = store.size() - 1;
    EXPECT_EQ(store[last - 1].fragment, 2u);
    EXPECT_EQ(store[last - 1].offset, 13u);
    store.dropRange(2, 12, 17);
    std::vector<bool> want = {false, true, true, true, false};
    if (!ordered) want.insert(want.begin(), false);
    EXPECT_EQ(droppedFlags(store), want) << ordered;
  }
}

// Moving the newest fixups below an older one's fragment leaves the store
// out of fragment order, and drops still find them.
TEST(FixupStore, MovesTheNewestFixupsOnly) {
  FixupStore store;
  ASSERT_TRUE(store.addOwnedTarget(5, {"a"}, false, 2, 8));
  ASSERT_TRUE(store.addOwnedTarget(6, {"b"}, false, 1, 8));
  ASSERT_TRUE(store.addOwnedTarget(6, {"c"}, false, 3, 8));
  store.moveNewest(6, 4, 10);
  store.moveNewest(7, 1, 10);
  EXPECT_EQ(store[0].fragment, 5u);
  EXPECT_EQ(store[0].offset, 2u);
  EXPECT_EQ(store[2].fragment, 4u);
  EXPECT_EQ(store[2].offset, 13u);
  store.dropFragment(4);
  EXPECT_EQ(droppedFlags(store), (std::vector<bool>{false, true, true}));
}

}  // namespace
