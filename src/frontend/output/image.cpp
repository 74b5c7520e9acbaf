#include "frontend/output/image.hpp"

#include <algorithm>
#include <optional>

#include "common/little_endian.hpp"

namespace frontend::output::image {

using qovrin::Error;
using qovrin::fail;

namespace {

// Offset of [address, address + count) inside a region's stored bytes, if
// the whole range lies within them.
qovrin::Result<std::optional<std::uint64_t>> offsetInStoredPart(const ImageRegion& region, std::uint64_t address,
                                                                std::uint64_t count) {
  if (address < region.address) return std::nullopt;
  const std::uint64_t relative = address - region.address;
  std::uint64_t end = 0;
  if (__builtin_add_overflow(relative, count, &end)) return fail(Error::OffsetOverflow);
  if (end > region.file_size) return std::nullopt;
  return relative;
}

qovrin::Result<std::size_t> checkedPosition(std::uint64_t start, std::uint64_t relative, std::uint64_t count,
                                            std::size_t byte_count) {
  std::uint64_t position = 0;
  std::uint64_t end = 0;
  if (__builtin_add_overflow(start, relative, &position) || __builtin_add_overflow(position, count, &end))
    return fail(Error::OffsetOverflow);
  if (end > byte_count) return fail(Error::InvalidApiArgument);
  return static_cast<std::size_t>(position);
}

bool holds(const ImageRegion& region, std::uint64_t address) noexcept {
  return address >= region.address && address - region.address < region.logical_size;
}

RegionFacts factsOf(const ImageRegion& region) noexcept {
  return {region.file_offset, region.logical_size, region.file_size};
}

}  // namespace

qovrin::Result<std::size_t> Image::map(std::uint64_t address, std::uint64_t count) const {
  if (regions.empty()) {
    if (address < base_address) return fail(Error::InvalidApiArgument);
    return checkedPosition(address - base_address, 0, count, bytes.size());
  }
  for (const ImageRegion& region : regions) {
    const auto relative = offsetInStoredPart(region, address, count);
    if (!relative) return fail(relative.error());
    if (*relative) return checkedPosition(region.file_offset, **relative, count, bytes.size());
  }
  return fail(Error::InvalidApiArgument);
}

qovrin::Result<std::size_t> Image::mapInSection(std::uint32_t section, std::uint64_t address,
                                                std::uint64_t count) const {
  const auto region = std::ranges::find(regions, section, &ImageRegion::section);
  if (region == regions.end()) return fail(Error::InvalidApiArgument);
  const auto relative = offsetInStoredPart(*region, address, count);
  if (!relative) return fail(relative.error());
  if (!*relative) return fail(Error::InvalidApiArgument);
  return checkedPosition(region->file_offset, **relative, count, bytes.size());
}

qovrin::Status Image::loadBytes(std::uint64_t address, std::span<std::uint8_t> destination) const {
  const auto position = map(address, destination.size());
  if (!position) return fail(position.error());
  std::ranges::copy(bytes.subspan(*position, destination.size()), destination.begin());
  return {};
}

qovrin::Status Image::loadBytesInSection(std::uint32_t section, std::uint64_t address,
                                         std::span<std::uint8_t> destination) const {
  const auto position = mapInSection(section, address, destination.size());
  if (!position) return fail(position.error());
  std::ranges::copy(bytes.subspan(*position, destination.size()), destination.begin());
  return {};
}

qovrin::Result<std::uint64_t> Image::loadInteger(std::uint64_t address, std::uint64_t width) const {
  if (!qovrin::isIntegerWidth(width)) return fail(Error::InvalidApiInteger);
  const auto position = map(address, width);
  if (!position) return fail(position.error());
  return qovrin::readLittleEndian(bytes.subspan(*position, width));
}

qovrin::Result<std::uint64_t> Image::loadIntegerInSection(std::uint32_t section, std::uint64_t address,
                                                          std::uint64_t width) const {
  if (!qovrin::isIntegerWidth(width)) return fail(Error::InvalidApiInteger);
  const auto position = mapInSection(section, address, width);
  if (!position) return fail(position.error());
  return qovrin::readLittleEndian(bytes.subspan(*position, width));
}

qovrin::Result<std::vector<std::uint8_t>> Image::readBytes(std::uint64_t address, std::uint64_t count) const {
  const auto position = map(address, count);
  if (!position) return fail(position.error());
  const auto source = bytes.subspan(*position, count);
  return std::vector<std::uint8_t>(source.begin(), source.end());
}

qovrin::Result<std::vector<std::uint8_t>> Image::readBytesInSection(std::uint32_t section, std::uint64_t address,
                                                                    std::uint64_t count) const {
  const auto position = mapInSection(section, address, count);
  if (!position) return fail(position.error());
  const auto source = bytes.subspan(*position, count);
  return std::vector<std::uint8_t>(source.begin(), source.end());
}

qovrin::Status Image::storeBytes(std::uint64_t address, std::span<const std::uint8_t> source) {
  const auto position = map(address, source.size());
  if (!position) return fail(position.error());
  std::ranges::copy(source, bytes.begin() + static_cast<std::ptrdiff_t>(*position));
  return {};
}

qovrin::Result<RegionFacts> regionFactsForAddress(std::span<const ImageRegion> regions, std::uint64_t address) {
  const ImageRegion* best = nullptr;
  for (const ImageRegion& region : regions)
    if (holds(region, address) && (best == nullptr || region.address >= best->address)) best = &region;
  if (best == nullptr) return fail(Error::InvalidApiArgument);
  return factsOf(*best);
}

qovrin::Result<RegionFacts> regionFactsForSection(std::span<const ImageRegion> regions, std::uint32_t section,
                                                  std::uint64_t address) {
  const auto region = std::ranges::find(regions, section, &ImageRegion::section);
  if (region == regions.end() || !holds(*region, address)) return fail(Error::InvalidApiArgument);
  return factsOf(*region);
}

}  // namespace frontend::output::image
