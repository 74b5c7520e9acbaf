#pragma once
// Where one settled instruction of a run came from, in 4 bytes instead of a
// fragment of its own. The run's fragment carries the location of its first
// line, whose source and expansion all of its lines share; a record keeps
// where its own line starts from there and where its bytes start in the run.
// Diagnostics and listings name a line by where it starts, so a record keeps
// no end: the span it gives back is empty. With 16-byte fixups and 43-byte
// symbols: x86_throughput.py peak 55 -> 37 MiB (labels), 38 -> 32 MiB (plain).

#include <bit>
#include <cstdint>

#include "frontend/syntax/source_location.hpp"

namespace frontend::line_record {

// Runs stay within this many bytes, so that a record's offset fits 16 bits.
inline constexpr std::uint32_t kMaxRunBytes = 1u << 16;
// Farthest a line of a run may start from the run's first line; a line
// farther away starts a run of its own.
inline constexpr std::uint32_t kMaxStartDistance = 0x7FFF;

struct LineRecord {
  // The line's start from the run's, and kStoredFlag once a store made the
  // instruction plain bytes (it is then no longer counted as an instruction).
  std::uint16_t start = 0;
  std::uint16_t offset = 0;  // of the instruction's first byte in the run

  static constexpr std::uint16_t kStoredFlag = 0x8000;

  // Put together in one register: a record whose halves were stored apart
  // would be read back whole before those stores are done. x86_throughput.py
  // --mix plain shows it; no figure was recorded.
  static constexpr LineRecord of(std::uint16_t start, std::uint16_t offset) noexcept {
    if constexpr (std::endian::native == std::endian::little)
      return std::bit_cast<LineRecord>(std::uint32_t{start} | std::uint32_t{offset} << 16);
    else
      return std::bit_cast<LineRecord>(std::uint32_t{start} << 16 | std::uint32_t{offset});
  }

  bool stored() const noexcept { return (start & kStoredFlag) != 0; }
  // The line's location, given the run's own (its first line's).
  SourceLocation location(const SourceLocation& run) const noexcept {
    SourceLocation line = run;
    line.span.start = run.span.start + (start & kMaxStartDistance);
    line.span.end = line.span.start;
    return line;
  }
};

static_assert(sizeof(LineRecord) == 4);
static_assert(LineRecord::of(0x1234, 0xABCD).start == 0x1234 && LineRecord::of(0x1234, 0xABCD).offset == 0xABCD);

}  // namespace frontend::line_record
