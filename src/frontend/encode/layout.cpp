#include "frontend/encode/layout.hpp"

#include <algorithm>
#include <span>

#include "common/align.hpp"

namespace frontend::layout {

using qovrin::alignUp;
using qovrin::Error;
using qovrin::fail;

namespace {

// Bytes the fragment spans when it starts at offset, and where it starts (a
// reserve first aligns itself).
struct Placement {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

qovrin::Result<Placement> place(const fragment::Fragment& piece, std::uint64_t offset) {
  switch (piece.kind()) {
    case fragment::FragmentKind::bytes:
      return Placement{offset, piece.bytes()->data.size()};
    case fragment::FragmentKind::reserve: {
      const fragment::Reserve& space = *piece.reserve();
      const auto start = alignUp(offset, space.alignment);
      if (!start) return fail(start.error());
      return Placement{*start, space.size};
    }
    case fragment::FragmentKind::alignment: {
      // The fragment is the padding itself.
      const auto end = alignUp(offset, piece.alignment()->alignment);
      if (!end) return fail(end.error());
      return Placement{offset, *end - offset};
    }
    case fragment::FragmentKind::instruction:
      // The encoded size as the encode pass recorded it; 0 before encoding.
      return Placement{offset, piece.instruction()->encoded.size()};
  }
  return fail(Error::InvalidFragment);
}

qovrin::Result<SectionLayout> layoutSection(const module::Module& module, std::uint32_t index) {
  const section::Section& section = module.sections()[index];
  const auto fragments = module.fragments();
  SectionLayout row{section.base, section.file_offset, 0, 0, {}, index, 0};
  row.fragments.reserve(section.fragments.size());

  std::uint64_t offset = 0;
  for (const std::uint32_t fragment : section.fragments) {
    if (fragment >= fragments.size()) return fail(Error::InvalidFragment);
    const auto placed = place(fragments[fragment], offset);
    if (!placed) return fail(placed.error());
    row.fragments.push_back({placed->offset});
    if (__builtin_add_overflow(placed->offset, placed->size, &offset)) return fail(Error::OffsetOverflow);
  }
  row.memory_size = offset;

  // Reserves at the end store nothing; the padding that aligned the earliest
  // of them still belongs to the stored part.
  std::uint64_t stored = offset;
  row.stored_entries = row.fragments.size();
  while (row.stored_entries > 0 &&
         fragments[section.fragments[row.stored_entries - 1]].kind() == fragment::FragmentKind::reserve) {
    --row.stored_entries;
    stored = row.fragments[row.stored_entries].offset;
  }
  const auto file_size = alignUp(stored, section.alignment);
  if (!file_size) return fail(file_size.error());
  row.file_size = *file_size;
  return row;
}

}  // namespace

qovrin::Result<std::uint64_t> spannedSize(const fragment::Fragment& piece, std::uint64_t offset) {
  // A laid-out reserve starts aligned, so placing it again moves nothing.
  const auto placed = place(piece, offset);
  if (!placed) return fail(placed.error());
  return placed->size;
}

qovrin::Result<ModuleLayout> layoutModule(const module::Module& module) {
  ModuleLayout layout;
  layout.sections.reserve(module.sections().size());
  for (std::uint32_t index = 0; index < module.sections().size(); ++index) {
    auto row = layoutSection(module, index);
    if (!row) return fail(row.error());
    layout.sections.push_back(std::move(*row));
  }
  return layout;
}

namespace {

// The row's fragments as its section lists them; none when the list no
// longer matches the row.
std::span<const std::uint32_t> listOf(const SectionLayout& row, const section::SectionStore& sections) noexcept {
  if (!sections.contains(row.section)) return {};
  const auto& list = sections[row.section].fragments;
  if (list.size() < row.fragments.size()) return {};
  return std::span(list).first(row.fragments.size());
}

bool isRun(std::span<const std::uint32_t> list) noexcept {
  for (std::size_t entry = 1; entry < list.size(); ++entry)
    if (list[entry] != list[0] + entry) return false;
  return true;
}

}  // namespace

LayoutIndex::LayoutIndex(const ModuleLayout& layout, const section::SectionStore& sections,
                         std::size_t fragment_count)
    : layout_(layout), sections_(sections), runs_(layout.sections.size()) {
  for (std::uint32_t row = 0; row < layout.sections.size(); ++row) {
    const SectionLayout& section = layout.sections[row];
    if (section.section >= section_rows_.size()) section_rows_.resize(std::size_t{section.section} + 1, kNone);
    if (section_rows_[section.section] == kNone) section_rows_[section.section] = row;
    const auto list = listOf(section, sections);
    runs_[row] = isRun(list);
    if (runs_[row]) continue;
    if (positions_.empty()) positions_.resize(fragment_count);
    for (std::uint32_t entry = 0; entry < list.size(); ++entry) {
      const std::uint32_t fragment = list[entry];
      if (fragment < positions_.size() && positions_[fragment].section_row == kNone)
        positions_[fragment] = {row, entry};
    }
  }
}

const SectionLayout* LayoutIndex::section(std::uint32_t section) const noexcept {
  if (section >= section_rows_.size() || section_rows_[section] == kNone) return nullptr;
  return &layout_.sections[section_rows_[section]];
}

const FragmentLayout* LayoutIndex::fragment(const SectionLayout& section, std::uint32_t fragment) const noexcept {
  const auto row = static_cast<std::uint32_t>(&section - layout_.sections.data());
  if (row >= runs_.size()) return nullptr;
  const auto list = listOf(section, sections_);
  if (runs_[row]) {
    // A run names each fragment once, at its distance from the first.
    if (list.empty() || fragment < list.front()) return nullptr;
    const std::uint64_t entry = fragment - list.front();
    return entry < list.size() ? &section.fragments[entry] : nullptr;
  }
  if (fragment < positions_.size() && positions_[fragment].section_row == row)
    return &section.fragments[positions_[fragment].fragment_row];
  // A fragment listed first in another section may still appear in this one.
  const auto found = std::ranges::find(list, fragment);
  return found == list.end() ? nullptr : &section.fragments[static_cast<std::size_t>(found - list.begin())];
}

}  // namespace frontend::layout
