#pragma once
// Where every fragment of every section lies: offsets and sizes in the address
// space, and how many of those bytes the output file stores. Layout never
// moves a section; base and file offset come from the section as lowering left
// it, and the module is only read.

#include <cstdint>
#include <vector>

#include "common/error.hpp"
#include "frontend/module.hpp"

namespace frontend::layout {

struct FragmentLayout {
  std::uint64_t offset = 0;    // from the section's base, after a reserve's own alignment
  std::uint64_t size = 0;      // bytes spanned in the address space
  std::uint32_t fragment = 0;  // index into the module's fragment list
  bool tail = false;           // a reserve with nothing stored after it

  // Bytes stored in the output: size, or 0 for a trailing reserve.
  std::uint64_t fileSize() const noexcept { return tail ? 0 : size; }
};

struct SectionLayout {
  std::uint64_t base = 0;
  std::uint64_t file_offset = 0;
  std::uint64_t memory_size = 0;  // end of the last fragment, padding and reserves counted, not rounded
  // Without the trailing reserves, rounded up to the section's alignment.
  std::uint64_t file_size = 0;
  std::vector<FragmentLayout> fragments;  // one per entry of the section's fragment list, in order
  std::uint32_t section = 0;
};

// One row per section, in section-index order.
struct ModuleLayout {
  std::vector<SectionLayout> sections;
};

// Fails with InvalidFragment for a fragment index outside the module and with
// OffsetOverflow for an alignment of 0 or a sum past 64 bits.
qovrin::Result<ModuleLayout> layoutModule(const module::Module& module);

// Finds the row of a section and of a fragment in it with the answer a scan
// of the rows in order would give (first match), in constant time. A row
// whose fragments are one ascending run of indexes (a section written in one
// stretch) is looked up by arithmetic; only the others are indexed per
// fragment.
class LayoutIndex {
 public:
  LayoutIndex(const ModuleLayout& layout, std::size_t fragment_count);

  const SectionLayout* section(std::uint32_t section) const noexcept;
  const FragmentLayout* fragment(const SectionLayout& section, std::uint32_t fragment) const noexcept;

 private:
  static constexpr std::uint32_t kNone = ~std::uint32_t{0};

  struct Position {
    std::uint32_t section_row = kNone;
    std::uint32_t fragment_row = kNone;
  };

  const ModuleLayout& layout_;
  std::vector<std::uint32_t> section_rows_;  // by section index: first row with that index
  std::vector<bool> runs_;                   // by row: its fragments are one ascending run
  // By fragment index: the first row not a run that names it; empty when
  // every row is a run.
  std::vector<Position> positions_;
};

}  // namespace frontend::layout
