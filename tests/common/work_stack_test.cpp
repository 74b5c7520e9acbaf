#include "common/work_stack.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

namespace {

using qovrin::kLeafWorkStack;
using qovrin::kLeastWorkStack;
using qovrin::kWorkStackBytes;
using qovrin::kWorkStackReserve;

constexpr std::size_t kPage = 4096;
constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST(WorkStack, ShareIsAQuarterOfWhatIsLeftInWholePagesWithinItsBounds) {
  struct Case {
    std::size_t left;
    std::size_t share;
  };
  const Case cases[] = {
      {0, 2 * kLeastWorkStack},
      {4 * 2 * kLeastWorkStack, 2 * kLeastWorkStack},
      {4 * 2 * kLeastWorkStack + 4 * kPage, 2 * kLeastWorkStack + kPage},
      {16 * kMiB - 1, 4 * kMiB - kPage},
      {16 * kMiB, 4 * kMiB},
      {16 * kMiB + 4 * kPage - 1, 4 * kMiB},
      {4 * kWorkStackBytes, kWorkStackBytes},
      {std::size_t{1} << 40, kWorkStackBytes},
  };
  for (const Case& test : cases) EXPECT_EQ(qovrin::workStackShare(test.left, kPage), test.share) << test.left;
}

// As the limit grows, neither the stack nor the heap's whole pages shrink.
TEST(WorkStack, MoreAddressSpaceNeverGivesTheStackOrTheHeapLess) {
  std::size_t last_share = 0;
  std::size_t last_heap_pages = 0;
  for (std::size_t left = 0; left < 8 * kWorkStackBytes; left += 1021) {
    const std::size_t share = qovrin::workStackShare(left, kPage);
    const std::size_t heap_pages = left > share ? (left - share) / kPage : 0;
    ASSERT_EQ(share % kPage, 0u) << left;
    ASSERT_GE(share, last_share) << left;
    ASSERT_GE(heap_pages, last_heap_pages) << left;
    last_share = share;
    last_heap_pages = heap_pages;
  }
}

TEST(WorkStack, ReserveIsAQuarterOfTheStackBetweenALeafAndTheFullReserve) {
  struct Case {
    std::size_t bytes;
    std::size_t reserve;
  };
  const Case cases[] = {
      {0, kLeafWorkStack},
      {4 * kLeafWorkStack, kLeafWorkStack},
      {4 * kLeafWorkStack + 4 * kPage, kLeafWorkStack + kPage},
      {4 * kWorkStackReserve - 4, kWorkStackReserve - 1},
      {4 * kWorkStackReserve, kWorkStackReserve},
      {kWorkStackBytes, kWorkStackReserve},
  };
  for (const Case& test : cases) EXPECT_EQ(qovrin::workStackReserve(test.bytes), test.reserve) << test.bytes;
}

// A run is refused up front exactly where a statement that nests nothing
// would not get past its first nesting check.
TEST(WorkStack, TooSmallWhereTheReserveLeavesNoRoomForAStatement) {
  struct Case {
    std::size_t room;
    std::size_t reserve;
    bool tooSmall;
  };
  const Case cases[] = {
      {0, kLeafWorkStack, true},
      {kLeastWorkStack - 1, kLeafWorkStack, true},
      {kLeastWorkStack, kLeafWorkStack, false},
      // A reserve of 32 KiB leaves a 36 KiB room 4 KiB: too few.
      {36 << 10, 32 << 10, true},
      {kWorkStackReserve + qovrin::kStatementStack, kWorkStackReserve, false},
      {kWorkStackReserve + qovrin::kStatementStack - 1, kWorkStackReserve, true},
  };
  for (const Case& test : cases)
    EXPECT_EQ(qovrin::workStackTooSmall(test.room, test.reserve), test.tooSmall) << test.room << " " << test.reserve;
}

// Says where the stack ends relative to the caller's frame: `room` bytes
// below it, with the reserve a stack of `bytes` keeps.
__attribute__((noinline)) void placeStackEnd(std::ptrdiff_t room, std::size_t bytes) {
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  qovrin::currentWorkStack() =
      qovrin::WorkStack{here - static_cast<std::uintptr_t>(room), bytes, qovrin::workStackReserve(bytes), false};
}

TEST(WorkStack, ChecksStopAtTheReserveAndBelowTheStacksEnd) {
  struct Case {
    std::ptrdiff_t room;  // negative: the frame lies below the stack's end
    bool full;
  };
  const std::ptrdiff_t reserve = static_cast<std::ptrdiff_t>(kLeafWorkStack);
  const Case cases[] = {
      {64 * reserve, false}, {2 * reserve, false}, {reserve / 2, true}, {0, true}, {-reserve, true},
  };
  for (const Case& test : cases) {
    placeStackEnd(test.room, 4 * kLeafWorkStack);
    EXPECT_EQ(qovrin::workStackFull(), test.full) << test.room;
    EXPECT_EQ(qovrin::currentWorkStack().ranOut, test.full) << test.room;
  }
  qovrin::currentWorkStack() = {};
}

TEST(WorkStack, LevelsAValueOrBodyMayTakeFollowTheReserve) {
  struct Case {
    std::size_t bytes;
    std::size_t levels;
    bool held;
  };
  const std::size_t leaf_levels = kLeafWorkStack / qovrin::kLevelStack;
  const Case cases[] = {
      {kWorkStackBytes, 1024, true},
      {kWorkStackBytes, 1025, false},
      {4 * kLeafWorkStack, leaf_levels, true},
      {4 * kLeafWorkStack, leaf_levels + 1, false},
  };
  for (const Case& test : cases) {
    qovrin::currentWorkStack() = qovrin::WorkStack{1, test.bytes, qovrin::workStackReserve(test.bytes), false};
    EXPECT_EQ(qovrin::workStackHoldsLevels(test.levels), test.held) << test.bytes << " " << test.levels;
    EXPECT_EQ(qovrin::currentWorkStack().ranOut, !test.held);
  }
  // A thread that never said where its stack is takes no check.
  qovrin::currentWorkStack() = {};
  EXPECT_TRUE(qovrin::workStackHoldsLevels(std::size_t{1} << 40));
  EXPECT_FALSE(qovrin::workStackFull());
}

}  // namespace
