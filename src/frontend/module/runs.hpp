#pragma once
// Runs: settled instructions and data lines held as the bytes of one fragment
// instead of a fragment each, with a 4-byte record per line saying where it
// came from. One run at a time is open, and only while it is the newest
// fragment: a line that directly follows it in its section joins it. The
// module owns the fragments, sections, symbols and fixups a run touches and
// hands them in; this store owns the line records and what it knows about
// the open run.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "frontend/module/fixup.hpp"
#include "frontend/module/fragment.hpp"
#include "frontend/module/line_record.hpp"
#include "frontend/module/section.hpp"
#include "frontend/module/symbol_store.hpp"
#include "frontend/values/target.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::runs {

// A line that joined a run: the run's fragment and the line's first byte in it.
struct RunLine {
  std::uint32_t run = 0;
  std::uint32_t offset = 0;
};

class Runs {
 public:
  // Whether an encoded line of size bytes may live in a run at all: a
  // pending x86 line waits only for fields patched in place, whose fixups
  // can follow it into the run; a RISC-V line is encoded again as a whole.
  static bool mayHold(target::Target target, bool pending, std::size_t size) noexcept {
    return size != 0 && (!pending || target.isa == target::Isa::x86);
  }

  // Whether one more line record fits the 32-bit positions runs use.
  bool hasRecordRoom() const noexcept { return line_records_.size() < std::numeric_limits<std::uint32_t>::max(); }

  // The record of a line of size bytes that may join the open run as the
  // next entry in the section's list; none when it may not.
  std::optional<line_record::LineRecord> recordFor(std::span<const fragment::Fragment> fragments,
                                                   const section::SectionStore& sections,
                                                   const symbol::SymbolStore& symbols, std::uint32_t section,
                                                   std::uint64_t size, const SourceLocation& location) const noexcept;
  // Adds the line recordFor accepted to the open run; joining is the entry
  // it would have had in the section's list, and the labels that stand in
  // front of it move into the run, at its end. The record comes by value,
  // in a register: read through a reference it would be loaded whole right
  // after its two halves were stored.
  RunLine join(std::span<fragment::Fragment> fragments, symbol::SymbolStore& symbols,
               line_record::LineRecord record, std::span<const std::uint8_t> bytes, std::uint32_t joining);
  // Makes the bytes fragment at index the open run, holding the one line of
  // record; the run open until then is closed for good.
  void openAt(std::span<fragment::Fragment> fragments, std::uint32_t index, line_record::LineRecord record);
  // Makes a settled instruction fragment plain bytes that open a run, when
  // a run may hold it and a record describe it; else it keeps its fragment.
  void settle(std::span<fragment::Fragment> fragments, std::uint32_t index);

  // Whether the fragment at index, among count fragments, may still grow:
  // a run does only while it is the newest fragment.
  bool mayGrow(std::uint32_t index, std::size_t count) const noexcept {
    return index == open_run_ && std::size_t{index} + 1 >= count;
  }

  // A label defined while a run is open stands in front of the next entry;
  // should that join the run, the label moves into it. Room first, so that
  // noting the label cannot fail once its symbol is in.
  void reserveLabel();
  void noteLabel(std::uint32_t symbol) noexcept;

  // The lines a run holds, in order; none for other fragments.
  std::span<const line_record::LineRecord> linesOf(const fragment::Fragment& piece) const noexcept;
  // Where the byte at offset in a fragment came from: in a run, the line
  // holding it, else the fragment's own line.
  SourceLocation locationAt(const fragment::Fragment& piece, std::uint64_t offset) const noexcept;
  // Marks stored the instructions of the run at index that a store into
  // [from, from + length) of its bytes reaches, and drops their fixups: the
  // stored bytes are what the user wants.
  void markStored(std::span<fragment::Fragment> fragments, std::uint32_t index, std::uint64_t from,
                  std::uint64_t length, fixup::FixupStore& fixups);

  // Settled instructions held in runs, without those a store made plain bytes.
  std::uint64_t coalescedInstructions() const noexcept { return coalesced_instructions_; }

  // Lets the module's reservation hint reach the record list.
  template <typename Reserve>
  void reserveRecords(Reserve&& reserve) {
    reserve(line_records_);
  }

 private:
  static constexpr std::uint32_t kNoRun = ~std::uint32_t{0};

  // Whether no label noted while the run was open stands behind the joining
  // entry, which would lose the fragment it stands in front of.
  bool labelsMayMoveIn(std::span<const fragment::Fragment> fragments, const symbol::SymbolStore& symbols,
                       std::uint32_t joining) const noexcept;
  // Moves the labels that stand in front of the joining entry to the run's end.
  void moveLabelsIn(symbol::SymbolStore& symbols, std::uint32_t section, std::uint32_t joining,
                    const fragment::Bytes& run) noexcept;

  std::vector<line_record::LineRecord> line_records_;
  std::uint64_t coalesced_instructions_ = 0;
  std::uint32_t open_run_ = kNoRun;
  // Labels defined while the open run is open, by symbol index.
  std::vector<std::uint32_t> run_labels_;
};

// Inlined into the module's joins: returned out of line, g++ builds the
// optional on the stack and reads it back whole before its flag's store is
// done, which stalled a third of the join's time on 1M `db(1)` lines
// (bench/data_throughput.py).
[[gnu::always_inline]] inline std::optional<line_record::LineRecord> Runs::recordFor(
    std::span<const fragment::Fragment> fragments, const section::SectionStore& sections,
    const symbol::SymbolStore& symbols, std::uint32_t section, std::uint64_t size,
    const SourceLocation& location) const noexcept {
  if (open_run_ == kNoRun || open_run_ + 1 != fragments.size() || !sections.contains(section)) return std::nullopt;
  if (!hasRecordRoom()) return std::nullopt;
  const std::vector<std::uint32_t>& entries = sections[section].fragments;
  if (entries.empty() || entries.back() != open_run_) return std::nullopt;
  const fragment::Fragment& run = fragments[open_run_];
  const fragment::Bytes& joined = *run.bytes();
  const SourceLocation shared = run.location();
  // Lines lowered again (a loop's body) may start before the run's first.
  if (location.span.start < shared.span.start ||
      location.span.start - shared.span.start > line_record::kMaxStartDistance ||
      shared.span.source != location.span.source || shared.expansion != location.expansion ||
      joined.first_line + joined.lines != line_records_.size() ||
      joined.data.size() + size > line_record::kMaxRunBytes ||
      (!run_labels_.empty() && !labelsMayMoveIn(fragments, symbols, static_cast<std::uint32_t>(entries.size()))))
    return std::nullopt;
  return line_record::LineRecord::of(static_cast<std::uint16_t>(location.span.start - shared.span.start),
                                     static_cast<std::uint16_t>(joined.data.size()));
}

[[gnu::always_inline]] inline RunLine Runs::join(std::span<fragment::Fragment> fragments, symbol::SymbolStore& symbols,
                                                 line_record::LineRecord record, std::span<const std::uint8_t> bytes,
                                                 std::uint32_t joining) {
  fragment::Bytes& joined = *fragments[open_run_].bytes();
  if (!run_labels_.empty()) moveLabelsIn(symbols, fragments[open_run_].section, joining, joined);
  line_records_.push_back(record);
  joined.data.append(bytes);
  ++joined.lines;
  if (!record.stored()) ++coalesced_instructions_;
  return RunLine{open_run_, record.offset};
}

}  // namespace frontend::runs
