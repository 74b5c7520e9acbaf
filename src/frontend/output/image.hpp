#pragma once
// Address-based access to the laid-out output: maps absolute addresses, or
// (section, address) pairs, to positions in the output bytes with bounds
// checks. The image borrows both the region rows and the bytes.

#include <cstdint>
#include <span>
#include <vector>

#include "common/error.hpp"

namespace frontend::output::image {

struct ImageRegion {
  std::uint64_t address = 0;       // the section's base address
  std::uint64_t file_offset = 0;   // position of the section's first byte in the output
  std::uint64_t logical_size = 0;  // laid-out size in the address space, trailing reserves included
  std::uint64_t file_size = 0;     // bytes stored in the output; accesses must end within it
  std::uint32_t section = 0;       // section index of the module
};

struct RegionFacts {
  std::uint64_t file_offset = 0;
  std::uint64_t logical_size = 0;
  std::uint64_t file_size = 0;
};

struct Image {
  std::uint64_t base_address = 0;  // used only when there are no regions
  std::span<const ImageRegion> regions;
  std::span<std::uint8_t> bytes;

  qovrin::Status loadBytes(std::uint64_t address, std::span<std::uint8_t> destination) const;
  qovrin::Status loadBytesInSection(std::uint32_t section, std::uint64_t address,
                                    std::span<std::uint8_t> destination) const;

  // Little-endian integer of 1, 2, 4 or 8 bytes.
  qovrin::Result<std::uint64_t> loadInteger(std::uint64_t address, std::uint64_t width) const;
  qovrin::Result<std::uint64_t> loadIntegerInSection(std::uint32_t section, std::uint64_t address,
                                                     std::uint64_t width) const;

  // Copies of count bytes. The range is checked before anything is
  // allocated, so a count taken from source text cannot exhaust memory.
  qovrin::Result<std::vector<std::uint8_t>> readBytes(std::uint64_t address, std::uint64_t count) const;
  qovrin::Result<std::vector<std::uint8_t>> readBytesInSection(std::uint32_t section, std::uint64_t address,
                                                               std::uint64_t count) const;

  // Overwrites output bytes; a failed store writes nothing.
  qovrin::Status storeBytes(std::uint64_t address, std::span<const std::uint8_t> source);

  // Position in the output bytes of count bytes at address.
  qovrin::Result<std::size_t> map(std::uint64_t address, std::uint64_t count) const;
  qovrin::Result<std::size_t> mapInSection(std::uint32_t section, std::uint64_t address, std::uint64_t count) const;
};

// The region holding the address; where regions overlap, the one starting
// highest (the later row among equal starts) wins.
qovrin::Result<RegionFacts> regionFactsForAddress(std::span<const ImageRegion> regions, std::uint64_t address);

// The first region of the section, provided it holds the address.
qovrin::Result<RegionFacts> regionFactsForSection(std::span<const ImageRegion> regions, std::uint32_t section,
                                                  std::uint64_t address);

}  // namespace frontend::output::image
