#include "frontend/output/image.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <numeric>
#include <vector>

#include "common/error_of.hpp"

using qovrin::testing::errorOf;

namespace {

using frontend::output::image::Image;
using frontend::output::image::ImageRegion;
using frontend::output::image::regionFactsForAddress;
using frontend::output::image::regionFactsForSection;
using qovrin::Error;

constexpr std::uint64_t kMax = ~std::uint64_t{0};

// Output bytes 0, 1, 2, ... so a load shows which position it mapped to.
std::vector<std::uint8_t> countingBytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

// Section 0: 0x1000, 8 stored bytes at file offset 0, logical 0x20 (a trailing reserve).
// Section 1: 0x1010, inside section 0's logical range, 4 bytes at file offset 8.
// Section 2: 0x1010 again, later row, 4 bytes at file offset 12.
// Section 3: 0x4000, 4 bytes at file offset 16.
const std::vector<ImageRegion> kRegions = {
    {0x1000, 0, 0x20, 8, 0},
    {0x1010, 8, 4, 4, 1},
    {0x1010, 12, 4, 4, 2},
    {0x4000, 16, 4, 4, 3},
};

TEST(Image, LoadsMapThroughTheFirstRegionThatHoldsTheWholeRange) {
  // name, address, count, position of the first byte (-1: the load fails with InvalidApiArgument)
  const std::tuple<const char*, std::uint64_t, std::size_t, int> cases[] = {
      {"start of first region", 0x1000, 4, 0},
      {"ends exactly at file size", 0x1004, 4, 4},
      {"one byte past file size inside logical size", 0x1005, 4, -1},
      {"in trailing reserve", 0x1018, 1, -1},
      {"overlapping regions take the first row", 0x1010, 4, 8},
      {"empty load at end of stored part", 0x1008, 0, 8},
      {"below every region", 0x0fff, 1, -1},
      {"far region", 0x4002, 2, 18},
      {"past the last region", 0x4004, 1, -1},
  };
  auto bytes = countingBytes(20);
  const Image image{0, kRegions, bytes};
  for (const auto& [name, address, count, first] : cases) {
    std::vector<std::uint8_t> out(count, 0xee);
    const auto status = image.loadBytes(address, out);
    if (first < 0) {
      ASSERT_FALSE(status) << name;
      EXPECT_EQ(errorOf(status), Error::InvalidApiArgument) << name;
    } else {
      ASSERT_TRUE(status) << name;
      std::vector<std::uint8_t> expected(count);
      std::iota(expected.begin(), expected.end(), static_cast<std::uint8_t>(first));
      EXPECT_EQ(out, expected) << name;
    }
  }
}

TEST(Image, RangeOverflowFailsAtOnceAndNoRegionsMapBasePlusK) {
  auto bytes = countingBytes(8);
  const std::vector<ImageRegion> regions = {{0, 0, kMax, kMax, 0}};
  const Image image{0, regions, bytes};
  EXPECT_EQ(errorOf(image.map(kMax, 2)), Error::OffsetOverflow);
  EXPECT_EQ(errorOf(image.map(0x10, 1)), Error::InvalidApiArgument);  // mapped beyond the output bytes
  const std::vector<ImageRegion> shifted = {{0, kMax, 4, 4, 0}};
  EXPECT_EQ(errorOf(Image{0, shifted, bytes}.map(1, 1)), Error::OffsetOverflow);  // file offset + relative

  const Image plain{0x400, {}, bytes};
  EXPECT_EQ(plain.loadInteger(0x402, 2).value(), 0x0302u);
  EXPECT_EQ(errorOf(plain.loadInteger(0x3ff, 1)), Error::InvalidApiArgument);
  EXPECT_EQ(errorOf(plain.loadInteger(0x405, 4)), Error::InvalidApiArgument);
  EXPECT_EQ(errorOf(plain.map(kMax, 0x401)), Error::OffsetOverflow);
  EXPECT_EQ(errorOf(plain.map(kMax, 0x400)), Error::InvalidApiArgument);
}

TEST(Image, SectionVariantsUseTheSectionsFirstRegion) {
  auto bytes = countingBytes(20);
  const Image image{0, kRegions, bytes};
  EXPECT_EQ(image.loadIntegerInSection(2, 0x1010, 1).value(), 12u);
  EXPECT_EQ(image.loadIntegerInSection(1, 0x1010, 1).value(), 8u);
  EXPECT_EQ(errorOf(image.loadIntegerInSection(0, 0x1010, 1)), Error::InvalidApiArgument);  // beyond its stored part
  EXPECT_EQ(errorOf(image.loadIntegerInSection(3, 0x1000, 1)), Error::InvalidApiArgument);  // below its base
  EXPECT_EQ(errorOf(image.loadIntegerInSection(9, 0x1000, 1)), Error::InvalidApiArgument);  // no such region
  EXPECT_EQ(image.readBytesInSection(3, 0x4001, 3).value(), (std::vector<std::uint8_t>{17, 18, 19}));
  EXPECT_EQ(image.loadInteger(0x1000, 8).value(), 0x0706050403020100u);
  // Widths are checked first, even for an address outside every region.
  for (std::uint64_t width : {0u, 3u, 5u, 16u}) {
    EXPECT_EQ(errorOf(image.loadInteger(0, width)), Error::InvalidApiInteger) << width;
    EXPECT_EQ(errorOf(image.loadIntegerInSection(0, 0x1000, width)), Error::InvalidApiInteger) << width;
  }
  // Huge reads fail before allocating.
  EXPECT_EQ(errorOf(image.readBytes(0x1000, std::uint64_t{1} << 62)), Error::InvalidApiArgument);
  EXPECT_EQ(errorOf(image.readBytesInSection(0, 0x1000, std::uint64_t{1} << 62)), Error::InvalidApiArgument);
}

TEST(Image, FailedStoreWritesNothing) {
  auto bytes = countingBytes(20);
  Image image{0, kRegions, bytes};
  const std::array<std::uint8_t, 4> data = {0xa0, 0xa1, 0xa2, 0xa3};
  EXPECT_EQ(errorOf(image.storeBytes(0x1006, data)), Error::InvalidApiArgument);
  EXPECT_EQ(bytes, countingBytes(20));
  ASSERT_TRUE(image.storeBytes(0x4000, data));
  EXPECT_EQ(image.loadInteger(0x4000, 4).value(), 0xa3a2a1a0u);
}

TEST(Image, RegionFactsByAddressTakeTheHighestStart) {
  // name, address, file offset of the region found (-1: none)
  const std::tuple<const char*, std::uint64_t, std::int64_t> cases[] = {
      {"only the first region", 0x1004, 0},
      {"trailing reserve is found by logical size", 0x1018, 0},
      {"overlap: higher start, later row among equals", 0x1012, 12},
      {"just past first region", 0x1020, -1},
      {"inside last region", 0x4003, 16},
  };
  for (const auto& [name, address, file_offset] : cases) {
    const auto facts = regionFactsForAddress(kRegions, address);
    if (file_offset < 0) {
      EXPECT_EQ(errorOf(facts), Error::InvalidApiArgument) << name;
    } else {
      ASSERT_TRUE(facts) << name;
      EXPECT_EQ(facts->file_offset, static_cast<std::uint64_t>(file_offset)) << name;
    }
  }
}

TEST(Image, RegionFactsBySectionRequireTheAddressInside) {
  const auto reserve = regionFactsForSection(kRegions, 0, 0x101f);
  ASSERT_TRUE(reserve);
  EXPECT_EQ(reserve->logical_size, 0x20u);
  EXPECT_EQ(reserve->file_size, 8u);
  EXPECT_EQ(errorOf(regionFactsForSection(kRegions, 0, 0x1020)), Error::InvalidApiArgument);
  EXPECT_EQ(errorOf(regionFactsForSection(kRegions, 7, 0x1000)), Error::InvalidApiArgument);
  EXPECT_EQ(errorOf(regionFactsForAddress({}, 0)), Error::InvalidApiArgument);
}

}  // namespace
