#pragma once
// Rounding offsets up to alignments, as layout and the pre-layout byte walks
// both do; offsets and alignments come from source text, so both are checked.

#include <cstdint>

#include "common/error.hpp"

namespace qovrin {

// offset rounded up to a multiple of alignment; OffsetOverflow for alignment
// 0 or a result past 64 bits.
inline Result<std::uint64_t> alignUp(std::uint64_t offset, std::uint64_t alignment) {
  if (alignment == 0) return fail(Error::OffsetOverflow);
  const std::uint64_t remainder = offset % alignment;
  if (remainder == 0) return offset;
  std::uint64_t aligned = 0;
  if (__builtin_add_overflow(offset, alignment - remainder, &aligned)) return fail(Error::OffsetOverflow);
  return aligned;
}

}  // namespace qovrin
