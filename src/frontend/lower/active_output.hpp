#pragma once
// The write position that statement lowering carries through a source.

#include <cstdint>

#include "frontend/values/target.hpp"

namespace frontend::lower::contracts {

// The write position of statement lowering: where the next fragment goes and
// which instruction set is in force there.
struct ActiveOutput {
  std::uint64_t offset = 0;       // memory size of the section so far
  std::uint64_t file_cursor = 0;  // file size of the section so far
  std::uint32_t section = 0;
  target::Target target;
  bool closed = false;  // region.file_align closed the region
};

}  // namespace frontend::lower::contracts
