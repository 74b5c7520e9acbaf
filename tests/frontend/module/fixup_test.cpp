#include "frontend/module/fixup.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "common/error_of.hpp"

namespace {

using frontend::fixup::classifyTargetText;
using frontend::fixup::FixupKind;
using frontend::fixup::FixupRangePolicy;
using frontend::fixup::FixupStore;
using frontend::fixup::FixupTarget;
using qovrin::testing::errorOf;

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
      {"label", FixupKind::symbol},    {"_start", FixupKind::symbol},    {".local$1", FixupKind::symbol},
      {"a.b_c9", FixupKind::symbol},   {"", FixupKind::expression},      {"9lives", FixupKind::expression},
      {"$x", FixupKind::expression},   {"x + 4", FixupKind::expression}, {"x-4", FixupKind::expression},
      {"f(x)", FixupKind::expression},
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

// Addends and sizes the record cannot hold itself sit in the pool in front of
// the text; neighbours with and without them must not read each other's.
TEST(FixupStore, AddendsAndLongSizesComeBackBesideNeighboursWithoutThem) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  // text size, addend
  const std::pair<std::size_t, std::int64_t> cases[] = {
      {3, 0},      {3, -4},     {0, 1}, {65534, 0},    {65535, 0}, {65535, kMin}, {1, kMax},
      {65536, -1}, {200000, 0}, {5, 0}, {65534, kMax}, {2, kMin},  {0, 0},
  };
  FixupStore store;
  std::vector<std::string> texts;
  for (std::uint32_t index = 0; index < std::size(cases); ++index) {
    const auto [size, addend] = cases[index];
    texts.emplace_back(size, static_cast<char>('a' + index));
    const auto added =
        store.addOwnedTarget(index, {texts.back(), FixupKind::expression, addend}, index % 2 == 0, 3 * index, 8);
    ASSERT_TRUE(added) << index;
  }
  for (std::uint32_t index = 0; index < store.size(); ++index) {
    const FixupTarget kept = store.target(store[index]);
    EXPECT_EQ(kept.text, texts[index]) << index;
    EXPECT_EQ(kept.addend, cases[index].second) << index;
    EXPECT_EQ(kept.kind, FixupKind::expression) << index;
    EXPECT_EQ(store[index].fragment, index);
    EXPECT_EQ(store[index].offset, 3 * index);
    EXPECT_EQ(store[index].pc_relative, index % 2 == 0) << index;
  }
}

// Width, kind, policy and the flags share bytes; setting one leaves the rest.
TEST(FixupStore, WidthsKindsPoliciesAndFlagsStayApart) {
  const FixupRangePolicy policies[] = {FixupRangePolicy::wrap, FixupRangePolicy::signed_value,
                                       FixupRangePolicy::unsigned_value};
  FixupStore store;
  for (std::uint16_t width = 0; width <= 255; ++width) {
    const FixupKind kind = width % 2 == 0 ? FixupKind::symbol : FixupKind::expression;
    const auto added = store.addOwnedTarget(width, {"t", kind, width % 5 == 0 ? -1 : 0}, width % 3 == 0, 0, width);
    ASSERT_TRUE(added) << width;
    store[*added].range_policy = policies[width % 3];
  }
  store.dropFragment(64);
  for (std::uint32_t index = 0; index < store.size(); ++index) {
    const auto& fixup = store[index];
    EXPECT_EQ(fixup.width, index) << index;
    EXPECT_EQ(fixup.kind, index % 2 == 0 ? FixupKind::symbol : FixupKind::expression) << index;
    EXPECT_EQ(fixup.pc_relative, index % 3 == 0) << index;
    EXPECT_EQ(fixup.range_policy, policies[index % 3]) << index;
    EXPECT_EQ(fixup.dropped, index == 64) << index;
    EXPECT_EQ(store.target(fixup).addend, index % 5 == 0 ? -1 : 0) << index;
    EXPECT_EQ(store.target(fixup).text, "t") << index;
  }
  EXPECT_EQ(errorOf(store.addOwnedTarget(0, {"t"}, false, 0, 256)), qovrin::Error::InvalidFixupWidth);
  EXPECT_EQ(store.size(), 256u);
}

// Labels named again and again, now and then with an addend: each fixup
// reads its own text and addend, also where an equal text with an addend
// came first.
TEST(FixupStore, RepeatedTextsComeBackWithTheirOwnAddends) {
  FixupStore store;
  std::vector<std::pair<std::string, std::int64_t>> added;
  for (std::uint32_t round = 0; round < 3; ++round) {
    for (std::uint32_t name = 0; name < 5000; name += round + 1) {
      added.emplace_back("L" + std::to_string(name), name % 7 == round ? -8 : 0);
      ASSERT_TRUE(
          store.addOwnedTarget(name, {added.back().first, FixupKind::symbol, added.back().second}, true, 0, 32));
    }
  }
  ASSERT_EQ(store.size(), added.size());
  for (std::uint32_t index = 0; index < store.size(); ++index) {
    const FixupTarget kept = store.target(store[index]);
    EXPECT_EQ(kept.text, added[index].first) << index;
    EXPECT_EQ(kept.addend, added[index].second) << index;
  }
}

std::vector<bool> droppedFlags(const FixupStore& store) {
  std::vector<bool> flags;
  for (std::uint32_t index = 0; index < store.size(); ++index) flags.push_back(store[index].dropped);
  return flags;
}

// A run's lines in offset order, the fields within a line in the encoder's:
// a drop reaches the fixups of the lines its range names, whether or not the
// store is in fragment order, also those of a line that joined the run after
// an earlier drop.
TEST(FixupStore, DropsTheFixupsOfTheLinesInARange) {
  for (const bool ordered : {true, false}) {
    FixupStore store;
    if (!ordered) {
      ASSERT_TRUE(store.addOwnedTarget(9, {"z"}, false, 0, 8));
    }
    for (const std::uint32_t offset : {1u, 9u, 6u}) ASSERT_TRUE(store.addOwnedTarget(2, {"x"}, false, offset, 32));
    store.dropRange(2, 5, 12);
    ASSERT_TRUE(store.addOwnedTarget(2, {"y"}, false, 13, 32));
    ASSERT_TRUE(store.addOwnedTarget(3, {"w"}, false, 0, 8));
    store.dropRange(2, 12, 17);
    std::vector<bool> want = {false, true, true, true, false};
    if (!ordered) want.insert(want.begin(), false);
    EXPECT_EQ(droppedFlags(store), want) << ordered;
  }
}

// Out of fragment order (the pass encodes lines lowering left waiting), a
// drop orders the fixups once; those added after it are still found.
TEST(FixupStore, DropsFindFixupsAddedAfterTheOrderWasMade) {
  FixupStore store;
  ASSERT_TRUE(store.addOwnedTarget(5, {"a"}, false, 2, 8));
  ASSERT_TRUE(store.addOwnedTarget(4, {"b"}, false, 1, 8));
  store.dropFragment(5);
  ASSERT_TRUE(store.addOwnedTarget(4, {"c"}, false, 3, 8));
  ASSERT_TRUE(store.addOwnedTarget(6, {"d"}, false, 0, 8));
  store.dropFragment(4);
  EXPECT_EQ(droppedFlags(store), (std::vector<bool>{true, true, true, false}));
}

}  // namespace
