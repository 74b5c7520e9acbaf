#pragma once
// The module's sections in creation order. A section's content is exactly the
// fragments its index list names, in that order.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"

namespace frontend::section {

enum class SectionKind : std::uint8_t {
  output = 0,
  virtual_region = 1,  // lays out addresses, contributes no bytes to the output
};

// How far a section's first entries reach as the layout cursor sums them: in
// memory, in the file (where the next stored byte lands) and in the file had
// every reserve been written.
struct MeasuredPrefix {
  std::uint32_t entries = 0;
  std::uint64_t memory = 0;
  std::uint64_t file = 0;
  std::uint64_t potential = 0;
};

struct Section {
  std::string name;
  std::vector<std::uint32_t> fragments;  // indexes into the module's fragment list
  std::uint64_t base = 0;                // address of the first byte
  std::uint64_t file_offset = 0;         // position of the first byte in the output file
  std::uint64_t alignment = 1;
  SectionKind kind = SectionKind::output;
  // What the entries whose sizes can no longer change already tell, so that
  // measuring the section again or finding an address in it goes on from
  // there instead of from the first entry. Both only ever cover a prefix of
  // the entries; the module shortens them when a size they covered changes.
  MeasuredPrefix measured;
  // Offset where each of the first entries begins, entry by entry as byte
  // accesses walk them (a reserve rounded to its own alignment); filled on
  // the first access, since most sections are never read or stored into.
  std::vector<std::uint64_t> starts;
};

class SectionStore {
 public:
  // Appends an empty section (base 0, file offset 0, alignment 1).
  qovrin::Result<std::uint32_t> addWithKind(std::string_view name, SectionKind kind);

  // Appends a fragment index to a section's content.
  qovrin::Status appendFragment(std::uint32_t section, std::uint32_t fragment);

  // Makes room for one more fragment index in the section, so that a later
  // appendFragment cannot fail; lets the module add a fragment all-or-nothing.
  qovrin::Status reserveFragmentSlot(std::uint32_t section);

  // Drops the newest section; used only to undo a half-done addition.
  void removeLast() noexcept {
    if (!sections_.empty()) sections_.pop_back();
  }

  std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(sections_.size()); }
  bool contains(std::uint32_t section) const noexcept { return section < sections_.size(); }

  // Unchecked access; callers test contains() for indexes from outside.
  Section& operator[](std::uint32_t section) noexcept { return sections_[section]; }
  const Section& operator[](std::uint32_t section) const noexcept { return sections_[section]; }

  auto begin() noexcept { return sections_.begin(); }
  auto end() noexcept { return sections_.end(); }
  auto begin() const noexcept { return sections_.begin(); }
  auto end() const noexcept { return sections_.end(); }

 private:
  std::vector<Section> sections_;
};

}  // namespace frontend::section
