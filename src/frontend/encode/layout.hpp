#pragma once
// Where every fragment of every section lies: offsets and sizes in the address
// space, and how many of those bytes the output file stores. Layout never
// moves a section; base and file offset come from the section as lowering left
// it, and the module is only read.

#include <cstdint>
#include <vector>

#include "common/error.hpp"
#include "frontend/module/module.hpp"

namespace frontend::layout {

// The fragment an entry stands for is the one at the same position in its
// section's fragment list, which only ever grows at the end; its size follows
// from the fragment and this offset (spannedSize).
struct FragmentLayout {
  std::uint64_t offset = 0;  // from the section's base, after a reserve's own alignment
};

struct SectionLayout {
  std::uint64_t base = 0;
  std::uint64_t file_offset = 0;
  std::uint64_t memory_size = 0;  // end of the last fragment, padding and reserves counted, not rounded
  // Without the trailing reserves, rounded up to the section's alignment.
  std::uint64_t file_size = 0;
  std::vector<FragmentLayout> fragments;  // one per entry of the section's fragment list, in order
  std::uint32_t section = 0;
  // Entries from this one on are reserves with nothing stored after them
  // (the tail): they span addresses but store no bytes.
  std::size_t stored_entries = 0;

  bool isTail(std::size_t entry) const noexcept { return entry >= stored_entries; }
};

// One row per section, in section-index order.
struct ModuleLayout {
  std::vector<SectionLayout> sections;
};

// Fails with InvalidFragment for a fragment index outside the module and with
// OffsetOverflow for an alignment of 0 or a sum past 64 bits.
qovrin::Result<ModuleLayout> layoutModule(const module::Module& module);

// Bytes a fragment laid out at offset spans in the address space; an entry
// in a section's tail stores none of them.
qovrin::Result<std::uint64_t> spannedSize(const fragment::Fragment& piece, std::uint64_t offset);

// Finds the row of a section and of a fragment in it with the answer a scan
// of the rows in order would give (first match), in constant time. A row
// whose fragments are one ascending run of indexes (a section written in one
// stretch) is looked up by arithmetic; only the others are indexed per
// fragment.
class LayoutIndex {
 public:
  // The sections the layout was made from, with their fragment lists.
  LayoutIndex(const ModuleLayout& layout, const section::SectionStore& sections, std::size_t fragment_count);

  const SectionLayout* section(std::uint32_t section) const noexcept;
  const FragmentLayout* fragment(const SectionLayout& section, std::uint32_t fragment) const noexcept;

 private:
  static constexpr std::uint32_t kNone = ~std::uint32_t{0};

  struct Position {
    std::uint32_t section_row = kNone;
    std::uint32_t fragment_row = kNone;
  };

  const ModuleLayout& layout_;
  const section::SectionStore& sections_;
  std::vector<std::uint32_t> section_rows_;  // by section index: first row with that index
  std::vector<bool> runs_;                   // by row: its fragments are one ascending run
  // By fragment index: the first row not a run that names it; empty when
  // every row is a run.
  std::vector<Position> positions_;
};

}  // namespace frontend::layout
