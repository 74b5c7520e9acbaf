#include "frontend/lower/layout_cursor.hpp"

#include <algorithm>
#include <limits>
#include <span>
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

// The memory size after one more entry: a reserve by its size (not aligned),
// padding to a multiple of the alignment, stored bytes by their length.
qovrin::Result<std::uint64_t> memoryAfter(std::uint64_t offset, const fragment::Fragment& fragment) noexcept {
  if (const auto* reserve = fragment.reserve()) return add(offset, reserve->size);
  if (const auto* alignment = fragment.alignment()) return roundUp(offset, alignment->alignment);
  return add(offset, storedSize(fragment));
}

// The real and potential file cursors after one more entry: a reserve moves
// only the potential one, since it takes file room only once bytes follow.
qovrin::Status fileAfter(std::uint64_t& real, std::uint64_t& potential, const fragment::Fragment& fragment) noexcept {
  qovrin::Result<std::uint64_t> next_real = real;
  qovrin::Result<std::uint64_t> next_potential = potential;
  if (const auto* reserve = fragment.reserve()) {
    next_potential = add(potential, reserve->size);
  } else if (const auto* alignment = fragment.alignment()) {
    next_real = roundUpPowerOfTwo(std::max(potential, real), alignment->alignment);
    next_potential = roundUpPowerOfTwo(potential, alignment->alignment);
  } else {
    const std::uint64_t size = storedSize(fragment);
    next_real = add(std::max(potential, real), size);
    next_potential = add(potential, size);
  }
  if (!next_real) return fail(next_real.error());
  if (!next_potential) return fail(next_potential.error());
  real = *next_real;
  potential = *next_potential;
  return {};
}

// The sums the section keeps over its first entries; none when its entries
// were replaced by fewer since.
section::MeasuredPrefix measuredStart(const section::Section& section) noexcept {
  return section.measured.entries <= section.fragments.size() ? section.measured : section::MeasuredPrefix{};
}

// Adds the entries after the kept sums whose sizes are final to them; an
// entry that fails to measure ends them, and the full measure meets it.
void extendMeasured(module::Module& module, std::uint32_t section) {
  section::Section& target = module.sections()[section];
  section::MeasuredPrefix measured = measuredStart(target);
  const auto fragments = module.fragments();
  for (; measured.entries < target.fragments.size(); ++measured.entries) {
    const std::uint32_t index = target.fragments[measured.entries];
    if (index >= fragments.size() || !module.hasFinalSize(index)) break;
    const auto memory = memoryAfter(measured.memory, fragments[index]);
    if (!memory) break;
    std::uint64_t real = measured.file;
    std::uint64_t potential = measured.potential;
    if (!fileAfter(real, potential, fragments[index])) break;
    measured.memory = *memory;
    measured.file = real;
    measured.potential = potential;
  }
  target.measured = measured;
}

}  // namespace

qovrin::Result<std::uint64_t> sectionCursor(const module::Module& module, std::uint32_t section) {
  if (!module.sections().contains(section)) return fail(Error::InvalidSection);
  const section::Section& target = module.sections()[section];
  const section::MeasuredPrefix measured = measuredStart(target);
  const auto fragments = module.fragments();
  std::uint64_t offset = measured.memory;
  for (const std::uint32_t index : std::span(target.fragments).subspan(measured.entries)) {
    const auto next = memoryAfter(offset, fragments[index]);
    if (!next) return next;
    offset = *next;
  }
  return offset;
}

qovrin::Result<std::uint64_t> sectionFileCursor(const module::Module& module, std::uint32_t section) {
  if (!module.sections().contains(section)) return fail(Error::InvalidSection);
  const section::Section& target = module.sections()[section];
  const section::MeasuredPrefix measured = measuredStart(target);
  const auto fragments = module.fragments();
  std::uint64_t real = measured.file;
  std::uint64_t potential = measured.potential;
  for (const std::uint32_t index : std::span(target.fragments).subspan(measured.entries))
    QOVRIN_TRY(fileAfter(real, potential, fragments[index]));
  return roundUpPowerOfTwo(real, target.alignment);
}

qovrin::Result<std::uint32_t> activeFragmentPosition(const module::Module& module, std::uint32_t section) {
  if (!module.sections().contains(section)) return fail(Error::InvalidSection);
  const std::size_t count = module.sections()[section].fragments.size();
  if (count > std::numeric_limits<std::uint32_t>::max()) return fail(Error::FragmentTooLarge);
  return static_cast<std::uint32_t>(count);
}

qovrin::Result<std::uint64_t> activeAddress(const module::Module& module, const contracts::ActiveOutput& cursor) {
  if (!module.sections().contains(cursor.section)) return fail(Error::InvalidSection);
  return add(module.sections()[cursor.section].base, cursor.offset);
}

qovrin::Status remeasureActiveOutput(module::Module& module, contracts::ActiveOutput& cursor) {
  if (module.sections().contains(cursor.section)) extendMeasured(module, cursor.section);
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

void discardLastActiveOutput(std::vector<contracts::ActiveOutput>& saved) noexcept {
  if (!saved.empty()) saved.pop_back();
}

}  // namespace frontend::lower::layout_cursor
