#include "frontend/layout.hpp"

#include <variant>

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
      const auto& space = std::get<fragment::Reserve>(piece.payload);
      const auto start = alignUp(offset, space.alignment);
      if (!start) return fail(start.error());
      return Placement{*start, space.size};
    }
    case fragment::FragmentKind::alignment: {
      // The fragment is the padding itself.
      const auto end = alignUp(offset, std::get<fragment::Alignment>(piece.payload).alignment);
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
  SectionLayout row{section.base, section.file_offset, 0, 0, {}, index};
  row.fragments.reserve(section.fragments.size());

  std::uint64_t offset = 0;
  for (const std::uint32_t fragment : section.fragments) {
    if (fragment >= fragments.size()) return fail(Error::InvalidFragment);
    const auto placed = place(fragments[fragment], offset);
    if (!placed) return fail(placed.error());
    row.fragments.push_back({placed->offset, placed->size, fragment, false});
    if (__builtin_add_overflow(placed->offset, placed->size, &offset)) return fail(Error::OffsetOverflow);
  }
  row.memory_size = offset;

  // Reserves at the end store nothing; the padding that aligned the earliest
  // of them still belongs to the stored part.
  std::uint64_t stored = offset;
  for (auto trailing = row.fragments.rbegin(); trailing != row.fragments.rend(); ++trailing) {
    if (fragments[trailing->fragment].kind() != fragment::FragmentKind::reserve) break;
    trailing->tail = true;
    stored = trailing->offset;
  }
  const auto file_size = alignUp(stored, section.alignment);
  if (!file_size) return fail(file_size.error());
  row.file_size = *file_size;
  return row;
}

}  // namespace

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

bool isRun(const SectionLayout& section) noexcept {
  const auto& entries = section.fragments;
  for (std::size_t entry = 1; entry < entries.size(); ++entry)
    if (entries[entry].fragment != entries[0].fragment + entry) return false;
  return true;
}

}  // namespace

LayoutIndex::LayoutIndex(const ModuleLayout& layout, std::size_t fragment_count)
    : layout_(layout), runs_(layout.sections.size()) {
  for (std::uint32_t row = 0; row < layout.sections.size(); ++row) {
    const SectionLayout& section = layout.sections[row];
    if (section.section >= section_rows_.size()) section_rows_.resize(std::size_t{section.section} + 1, kNone);
    if (section_rows_[section.section] == kNone) section_rows_[section.section] = row;
    runs_[row] = isRun(section);
    if (runs_[row]) continue;
    if (positions_.empty()) positions_.resize(fragment_count);
    for (std::uint32_t entry = 0; entry < section.fragments.size(); ++entry) {
      const std::uint32_t fragment = section.fragments[entry].fragment;
      if (fragment < positions_.size() && positions_[fragment].section_row == kNone) positions_[fragment] = {row, entry};
    }
  }
}

const SectionLayout* LayoutIndex::section(std::uint32_t section) const noexcept {
  if (section >= section_rows_.size() || section_rows_[section] == kNone) return nullptr;
  return &layout_.sections[section_rows_[section]];
}

const FragmentLayout* LayoutIndex::fragment(const SectionLayout& section, std::uint32_t fragment) const noexcept {
  const auto row = static_cast<std::uint32_t>(&section - layout_.sections.data());
  if (row < runs_.size() && runs_[row]) {
    // A run names each fragment once, at its distance from the first.
    if (section.fragments.empty() || fragment < section.fragments.front().fragment) return nullptr;
    const std::uint64_t entry = fragment - section.fragments.front().fragment;
    return entry < section.fragments.size() ? &section.fragments[entry] : nullptr;
  }
  if (fragment < positions_.size() && positions_[fragment].section_row == row)
    return &section.fragments[positions_[fragment].fragment_row];
  // A fragment listed first in another section may still appear in this one.
  for (const FragmentLayout& entry : section.fragments)
    if (entry.fragment == fragment) return &entry;
  return nullptr;
}

}  // namespace frontend::layout
