#include "frontend/module/small_bytes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace {

using frontend::fragment::SmallBytes;

std::vector<std::uint8_t> counting(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t index = 0; index < count; ++index) bytes[index] = static_cast<std::uint8_t>(index * 7 + 1);
  return bytes;
}

// Sizes around the inline limit and far past it; a length kept in the spare
// bytes must survive every way of making and moving the content.
TEST(SmallBytes, KeepsContentOfEverySizeThroughCopiesAndMoves) {
  for (const std::size_t size : {0, 1, 14, 15, 16, 17, 255, 256, 70000}) {
    SCOPED_TRACE(size);
    const std::vector<std::uint8_t> want = counting(size);
    const SmallBytes made(want);
    EXPECT_EQ(made.size(), size);
    EXPECT_EQ(made, want);
    EXPECT_EQ(made.empty(), size == 0);

    SmallBytes copied(made);
    EXPECT_EQ(copied, want);
    const SmallBytes moved(std::move(copied));
    EXPECT_EQ(moved, want);
    EXPECT_TRUE(copied.empty());  // NOLINT: a moved-from SmallBytes is empty by contract

    SmallBytes assigned = {9, 9};
    assigned = moved;
    EXPECT_EQ(assigned, want);
    SmallBytes target(40, 0xCC);
    target = std::move(assigned);
    EXPECT_EQ(target, want);

    const SmallBytes filled(size, 0xAB);
    EXPECT_EQ(filled, std::vector<std::uint8_t>(size, 0xAB));
  }
}

TEST(SmallBytes, AssignsFromItsOwnContentAndComparesBySize) {
  for (const std::size_t size : {5, 40}) {
    SCOPED_TRACE(size);
    const std::vector<std::uint8_t> all = counting(size);
    SmallBytes bytes(all);
    bytes.assign(bytes.view().subspan(1));
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(all.begin() + 1, all.end()));
    bytes.view()[0] = 0x55;
    EXPECT_EQ(bytes[0], 0x55);
  }
  EXPECT_FALSE(SmallBytes({1, 2}) == SmallBytes({1, 2, 0}));
  EXPECT_FALSE(SmallBytes({1, 2}) == SmallBytes({1, 3}));
  EXPECT_TRUE(SmallBytes(counting(20)) == SmallBytes(counting(20)));
}

// Appends start inline, spill to a block that doubles, and keep the earlier
// bytes through every move; a copied or exactly sized block grows as well.
TEST(SmallBytes, AppendsAcrossInlineAndGrownBlocks) {
  const std::vector<std::uint8_t> all = counting(5000);
  for (const std::size_t piece : {1, 3, 15, 16, 100}) {
    SCOPED_TRACE(piece);
    SmallBytes grown;
    std::size_t done = 0;
    while (done < all.size()) {
      const std::size_t count = std::min(piece, all.size() - done);
      grown.append(std::span(all).subspan(done, count));
      done += count;
      ASSERT_EQ(grown, std::span(all).first(done));
    }
    SmallBytes moved(std::move(grown));
    moved.append(std::span(all).first(2));
    EXPECT_EQ(moved.size(), all.size() + 2);
    EXPECT_EQ(moved[all.size() + 1], all[1]);
  }
  SmallBytes exact(counting(20));
  SmallBytes copy(exact);
  copy.append(counting(3));
  EXPECT_EQ(copy.size(), 23u);
  EXPECT_EQ(copy[22], counting(3)[2]);
  EXPECT_EQ(exact, counting(20));
}

// Inline pieces go over as whole blocks while the heap block has room for
// one; what the block copies past a piece must never show in the content,
// however close to the block's end the piece lands.
TEST(SmallBytes, AppendsOtherSmallBytesAsWholeBlocks) {
  const std::vector<std::uint8_t> all = counting(700);
  for (const std::size_t piece : {1, 7, 15, 16, 33}) {
    SCOPED_TRACE(piece);
    SmallBytes run;
    run.append(std::span(all).first(20));
    std::size_t done = 20;
    while (done + piece <= all.size()) {
      const SmallBytes next{std::span(all).subspan(done, piece)};
      run.append(next);
      done += piece;
      ASSERT_EQ(run, std::span(all).first(done));
    }
  }
  SmallBytes inline_run(counting(3));
  inline_run.append(SmallBytes{counting(4)});
  EXPECT_EQ(inline_run.size(), 7u);
  EXPECT_EQ(inline_run[6], counting(4)[3]);
}

TEST(SmallBytes, AssignsAPrefixOfWiderRoom) {
  std::vector<std::uint8_t> room = counting(64);
  for (const std::size_t size : {0, 1, 15, 16, 40}) {
    SCOPED_TRACE(size);
    SmallBytes bytes(counting(30));
    bytes.assignPrefix(room, size);
    EXPECT_EQ(bytes, std::span(room).first(size));
    bytes.append(std::span(room).subspan(size, 2));
    EXPECT_EQ(bytes, std::span(room).first(size + 2));
  }
  SmallBytes narrow;
  narrow.assignPrefix(std::span(room).first(3), 2);
  EXPECT_EQ(narrow, std::span(room).first(2));
}

// Shrinking keeps the content, whether it ends inline, in an exact block or
// stays put, and the bytes still grow afterwards.
TEST(SmallBytes, ShrinksGrownBlocksToTheirContent) {
  const std::vector<std::uint8_t> all = counting(3000);
  for (const std::size_t size : {0, 1, 15, 16, 31, 32, 33, 1024, 2999}) {
    SCOPED_TRACE(size);
    SmallBytes bytes;
    bytes.append(std::span(all).first(size));
    bytes.shrinkToFit();
    ASSERT_EQ(bytes, std::span(all).first(size));
    bytes.shrinkToFit();
    bytes.append(std::span(all).subspan(size, 1));
    EXPECT_EQ(bytes, std::span(all).first(size + 1));
  }
  SmallBytes exact(counting(40));
  exact.shrinkToFit();
  EXPECT_EQ(exact, counting(40));
}

}  // namespace
