#pragma once
// What the output stage hands back: the output bytes and one region row per
// laid-out section. Images over it borrow both.

#include <cstdint>
#include <vector>

#include "frontend/output/image.hpp"

namespace frontend::output::result {

struct WriterResult {
  std::vector<std::uint8_t> bytes;
  std::vector<image::ImageRegion> regions;

  image::Image image(std::uint64_t base_address = 0) noexcept { return {base_address, regions, bytes}; }
};

}  // namespace frontend::output::result
