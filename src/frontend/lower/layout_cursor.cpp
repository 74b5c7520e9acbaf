#include "frontend/lower/layout_cursor.hpp"

#include <algorithm>
#include <limits>
#include <variant>

namespace frontend::lower::layout_cursor {

using qovrin::Error;
using qovrin::fail;

namespace {

bool isPowerOfTwo(std::uint64_t value) noexcept { return value != 0 && (value & (value - 1)) == 0; }

qovrin::Result<std::uint64_t> add(std::uint64_t left, std::uint64_t right) noexcept {
  std::uint64_t sum = 0;
  if (__builtin_add_overflow(left, right, &sum)) return fail(Error::OffsetOverflow);
  return sum;
}

// Rounds up to a multiple of alignment, which need not be a power of two.
qovrin::Result<std::uint64_t> roundUp(std::uint64_t value, std::uint64_t alignment) noexcept {
  if (alignment == 0) return fail(Error::InvalidAlignment);
  const std::uint64_t remainder = value % alignment;
  return remainder == 0 ? value : add(value, alignment - remainder);
}

qovrin::Result<std::uint64_t> roundUpPowerOfTwo(std::uint64_t value, std::uint64_t alignment) noexcept {
  if (!isPowerOfTwo(alignment)) return fail(Error::InvalidAlignment);
  return roundUp(value, alignment);
}

std::uint64_t storedSize(const fragment::Fragment& fragment) noexcept {
  const auto* bytes = fragment.storedBytes();
  return bytes == nullptr ? 0 : bytes->size();
}

}  // namespace

qovrin::Result<std::uint64_t> sectionCursor(const module::Module& module, std::uint32_t section) {
  if (!module.sections().contains(section)) return fail(Error::InvalidSection);
  const auto fragments = module.fragments();
  std::uint64_t offset = 0;
  for (const std::uint32_t index : module.sections()[section].fragments) {
    const fragment::Fragment& fragment = fragments[index];
    qovrin::Result<std::uint64_t> next = offset;
    if (const auto* reserve = fragment.reserve())
      next = add(offset, reserve->size);
    else if (const auto* alignment = fragment.alignment())
      next = roundUp(offset, alignment->alignment);
    else
      next = add(offset, storedSize(fragment));
    if (!next) return next;
    offset = *next;
  }
  return offset;
}

qovrin::Result<std::uint64_t> sectionFileCursor(const module::Module& module, std::uint32_t section) {
  if (!module.sections().contains(section)) return fail(Error::InvalidSection);
  const auto fragments = module.fragments();
  std::uint64_t real = 0;
  std::uint64_t potential = 0;
  for (const std::uint32_t index : module.sections()[section].fragments) {
    const fragment::Fragment& fragment = fragments[index];
    if (const auto* reserve = fragment.reserve()) {
      const auto next = add(potential, reserve->size);
      if (!next) return next;
      potential = *next;
    } else if (const auto* alignment = fragment.alignment()) {
      const auto next_real = roundUpPowerOfTwo(std::max(potential, real), alignment->alignment);
      if (!next_real) return next_real;
      const auto next_potential = roundUpPowerOfTwo(potential, alignment->alignment);
      if (!next_potential) return next_potential;
      real = *next_real;
      potential = *next_potential;
    } else {
      const std::uint64_t size = storedSize(fragment);
      const auto next_real = add(std::max(potential, real), size);
      if (!next_real) return next_real;
      const auto next_potential = add(potential, size);
      if (!next_potential) return next_potential;
      real = *next_real;
      potential = *next_potential;
    }
  }
  return roundUpPowerOfTwo(real, module.sections()[section].alignment);
}

qovrin::Result<std::uint32_t> activeFragmentPosition(const module::Module& module, std::uint32_t section) {
  if (!module.sections().contains(section)) return fail(Error::InvalidSection);
  const std::size_t count = module.sections()[section].fragments.size();
  if (count > std::numeric_limits<std::uint32_t>::max()) return fail(Error::FragmentTooLarge);
  return static_cast<std::uint32_t>(count);
}

qovrin::Status requireOpenOutputRegion(const contracts::ActiveOutput& cursor) noexcept {
  if (cursor.closed) return fail(Error::OutputRegionClosed);
  return {};
}

qovrin::Result<std::uint64_t> activeAddress(const module::Module& module, const contracts::ActiveOutput& cursor) {
  if (!module.sections().contains(cursor.section)) return fail(Error::InvalidSection);
  return add(module.sections()[cursor.section].base, cursor.offset);
}

qovrin::Status remeasureActiveOutput(const module::Module& module, contracts::ActiveOutput& cursor) {
  const auto offset = sectionCursor(module, cursor.section);
  if (!offset) return fail(offset.error());
  const auto file_cursor = sectionFileCursor(module, cursor.section);
  if (!file_cursor) return fail(file_cursor.error());
  cursor.offset = *offset;
  cursor.file_cursor = *file_cursor;
  return {};
}

qovrin::Result<std::uint64_t> alignForward(std::uint64_t value, std::uint64_t alignment) noexcept {
  return roundUpPowerOfTwo(value, alignment);
}

qovrin::Status advanceActiveOutput(contracts::ActiveOutput& cursor, const fragment::Fragment& fragment) {
  const std::uint64_t base = std::max(cursor.offset, cursor.file_cursor);
  qovrin::Result<std::uint64_t> file_cursor = cursor.file_cursor;
  qovrin::Result<std::uint64_t> offset = cursor.offset;
  if (const auto* reserve = fragment.reserve()) {
    offset = add(cursor.offset, reserve->size);
  } else if (const auto* alignment = fragment.alignment()) {
    file_cursor = roundUpPowerOfTwo(base, alignment->alignment);
    offset = roundUp(cursor.offset, alignment->alignment);
  } else {
    return advanceActiveOutputBy(cursor, storedSize(fragment));
  }
  if (!file_cursor) return fail(file_cursor.error());
  if (!offset) return fail(offset.error());
  cursor.file_cursor = *file_cursor;
  cursor.offset = *offset;
  return {};
}

qovrin::Status advanceActiveOutputBy(contracts::ActiveOutput& cursor, std::uint64_t size) {
  const auto file_cursor = add(std::max(cursor.offset, cursor.file_cursor), size);
  if (!file_cursor) return fail(file_cursor.error());
  const auto offset = add(cursor.offset, size);
  if (!offset) return fail(offset.error());
  cursor.file_cursor = *file_cursor;
  cursor.offset = *offset;
  return {};
}

void discardLastActiveOutput(std::vector<contracts::ActiveOutput>& saved) noexcept {
  if (!saved.empty()) saved.pop_back();
}

}  // namespace frontend::lower::layout_cursor
