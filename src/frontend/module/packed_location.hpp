#pragma once
// A source location folded into 17 bytes instead of 24, for the records a
// module keeps one of per fragment. Packed: its fields are read by value only.

#include <cstdint>

#include "frontend/syntax/source_location.hpp"

namespace frontend {

class [[gnu::packed]] PackedLocation {
 public:
  PackedLocation() = default;
  explicit PackedLocation(const SourceLocation& location) noexcept
      : source_(location.span.source.value_or(0)),
        start_(location.span.start),
        end_(location.span.end),
        expansion_(location.expansion.value_or(0)),
        present_(static_cast<std::uint8_t>((location.span.source ? kHasSource : 0) |
                                           (location.expansion ? kHasExpansion : 0))) {}

  SourceLocation unpack() const noexcept {
    SourceLocation location;
    if (present_ & kHasSource) location.span.source = source_;
    location.span.start = start_;
    location.span.end = end_;
    if (present_ & kHasExpansion) location.expansion = expansion_;
    return location;
  }

 private:
  static constexpr std::uint8_t kHasSource = 1;
  static constexpr std::uint8_t kHasExpansion = 2;

  std::uint32_t source_ = 0;
  std::uint32_t start_ = 0;
  std::uint32_t end_ = 0;
  std::uint32_t expansion_ = 0;
  std::uint8_t present_ = 0;
};

static_assert(sizeof(PackedLocation) == 17);

}  // namespace frontend
