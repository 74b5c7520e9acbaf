#pragma once
// How far a section reaches, recomputed from its fragments: in memory (every
// byte, reserve and padding) and in the file (where reserves at the end take
// no room).

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/error.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"

namespace frontend::lower::layout_cursor {

// Memory size of the section: InvalidSection, InvalidAlignment, OffsetOverflow.
// Both go on from the sums the section keeps over its first fragments.
qovrin::Result<std::uint64_t> sectionCursor(const module::Module& module, std::uint32_t section);

// File size of the section, rounded up to the section's alignment: reserves
// count only when bytes follow them.
qovrin::Result<std::uint64_t> sectionFileCursor(const module::Module& module, std::uint32_t section);

// The position the section's next fragment will take (InvalidSection, FragmentTooLarge).
qovrin::Result<std::uint32_t> activeFragmentPosition(const module::Module& module, std::uint32_t section);

// OutputRegionClosed once region.file_align has closed the cursor's region.
inline qovrin::Status requireOpenOutputRegion(const contracts::ActiveOutput& cursor) noexcept {
  if (cursor.closed) return qovrin::fail(qovrin::Error::OutputRegionClosed);
  return {};
}

// Base address of the cursor's section plus its offset (InvalidSection, OffsetOverflow).
qovrin::Result<std::uint64_t> activeAddress(const module::Module& module, const contracts::ActiveOutput& cursor);

// The cursor's offset and file cursor measured again from its section's
// fragments. The sums over the fragments whose sizes are final are kept in
// the section, so that the next measure adds only what came after them
// (bench/scaling.py --case include: 40,000 includes 42.0 s -> 1.16 s).
qovrin::Status remeasureActiveOutput(module::Module& module, contracts::ActiveOutput& cursor);

// value rounded up to a power-of-two alignment (InvalidAlignment, OffsetOverflow).
qovrin::Result<std::uint64_t> alignForward(std::uint64_t value, std::uint64_t alignment) noexcept;

// Moves the cursor past a fragment just appended to its section. A reserve
// takes file room only once bytes follow it, so the file cursor starts each
// stored piece at the larger of the two positions. On failure the cursor is
// unchanged.
qovrin::Status advanceActiveOutput(contracts::ActiveOutput& cursor, const fragment::Fragment& fragment);
// The same for size stored bytes, which may have joined a fragment before.
// Inline: every data line moves the cursor, and the call was 1.5% of the
// instructions of `db(1)` lines (callgrind, bench/data_throughput.py).
inline qovrin::Status advanceActiveOutputBy(contracts::ActiveOutput& cursor, std::uint64_t size) noexcept {
  std::uint64_t file_cursor = 0;
  std::uint64_t offset = 0;
  if (__builtin_add_overflow(std::max(cursor.offset, cursor.file_cursor), size, &file_cursor) ||
      __builtin_add_overflow(cursor.offset, size, &offset))
    return qovrin::fail(qovrin::Error::OffsetOverflow);
  cursor.file_cursor = file_cursor;
  cursor.offset = offset;
  return {};
}

// Drops the newest saved cursor without restoring it (the stack must not be empty).
void discardLastActiveOutput(std::vector<contracts::ActiveOutput>& saved) noexcept;

}  // namespace frontend::lower::layout_cursor
