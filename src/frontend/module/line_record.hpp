#pragma once
// Where one settled instruction of a run came from, in 8 bytes instead of a
// fragment of its own. The run's fragment carries the source and expansion
// that all of its lines share; a record keeps the rest of the line's span and
// where its bytes start in the run.

#include <cstdint>

#include "frontend/syntax/source_location.hpp"

namespace frontend::line_record {

// Runs stay within this many bytes, so that a record's offset fits 16 bits.
inline constexpr std::uint32_t kMaxRunBytes = 1u << 16;
// Longest span a record holds; longer lines keep a fragment of their own.
inline constexpr std::uint32_t kMaxSpanLength = 0x7FFF;

struct LineRecord {
  std::uint32_t start = 0;   // of the line's span in the run's source
  std::uint16_t offset = 0;  // of the instruction's first byte in the run
  // The span's length, and kStoredFlag once a store made the instruction
  // plain bytes (it is then no longer counted as an instruction).
  std::uint16_t length = 0;

  static constexpr std::uint16_t kStoredFlag = 0x8000;

  bool stored() const noexcept { return (length & kStoredFlag) != 0; }
  // The line's location, given the run's own (its first line's).
  SourceLocation location(const SourceLocation& run) const noexcept {
    SourceLocation line = run;
    line.span.start = start;
    line.span.end = start + (length & kMaxSpanLength);
    return line;
  }
};

static_assert(sizeof(LineRecord) == 8);

}  // namespace frontend::line_record
