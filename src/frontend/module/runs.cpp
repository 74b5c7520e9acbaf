#include "frontend/module/runs.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace frontend::runs {

namespace {

// The line of a run whose bytes hold offset: the last one starting at or
// before it, else the first.
template <typename Record>
auto lineHolding(std::span<Record> lines, std::uint64_t offset) noexcept {
  auto line =
      std::upper_bound(lines.begin(), lines.end(), offset,
                       [](std::uint64_t at, const line_record::LineRecord& record) { return at < record.offset; });
  if (line != lines.begin()) --line;
  return line;
}

}  // namespace

void Runs::moveLabelsIn(symbol::SymbolStore& symbols, std::uint32_t section, std::uint32_t joining,
                        const fragment::Bytes& run) noexcept {
  for (const std::uint32_t index : run_labels_) {
    symbol::Label& label = *symbols[index].label();
    if (label.section != section || label.fragment_position != joining) continue;
    label.fragment_position = joining - 1;
    label.run_offset = static_cast<std::uint32_t>(run.data.size());
  }
  run_labels_.clear();
}

void Runs::openAt(std::span<fragment::Fragment> fragments, std::uint32_t index, line_record::LineRecord record) {
  run_labels_.clear();
  // The run before is closed for good: its block need not keep room to grow.
  if (open_run_ != kNoRun && open_run_ < fragments.size())
    if (fragment::Bytes* closed = fragments[open_run_].bytes()) closed->data.shrinkToFit();
  line_records_.push_back(record);
  fragment::Bytes& run = *fragments[index].bytes();
  run.first_line = static_cast<std::uint32_t>(line_records_.size() - 1);
  run.lines = 1;
  if (!record.stored()) ++coalesced_instructions_;
  open_run_ = index;
}

void Runs::settle(std::span<fragment::Fragment> fragments, std::uint32_t index) {
  if (index >= fragments.size()) return;
  fragment::Fragment& piece = fragments[index];
  fragment::Instruction* line = piece.instruction();
  if (line == nullptr || !line->settled || !mayHold(line->target, line->pending, line->encoded.size())) return;
  if (!hasRecordRoom()) return;
  fragment::SmallBytes data;
  data.append(line->encoded.view());
  piece.becomeBytes(std::move(data));
  openAt(fragments, index, line_record::LineRecord::of(0, 0));
}

void Runs::reserveLabel() {
  // Grown by doubling, since a run stays open for any number of labels.
  if (open_run_ != kNoRun && run_labels_.size() == run_labels_.capacity())
    run_labels_.reserve(std::max<std::size_t>(8, 2 * run_labels_.size()));
}

void Runs::noteLabel(std::uint32_t symbol) noexcept {
  if (open_run_ != kNoRun) run_labels_.push_back(symbol);
}

bool Runs::labelsMayMoveIn(std::span<const fragment::Fragment> fragments, const symbol::SymbolStore& symbols,
                           std::uint32_t joining) const noexcept {
  const std::uint32_t section = fragments[open_run_].section;
  return std::ranges::none_of(run_labels_, [&](std::uint32_t index) {
    const symbol::Label& label = *symbols[index].label();
    return label.section == section && label.fragment_position > joining;
  });
}

std::span<const line_record::LineRecord> Runs::linesOf(const fragment::Fragment& piece) const noexcept {
  const fragment::Bytes* run = piece.bytes();
  if (run == nullptr || run->lines == 0) return {};
  return std::span(line_records_).subspan(run->first_line, run->lines);
}

SourceLocation Runs::locationAt(const fragment::Fragment& piece, std::uint64_t offset) const noexcept {
  const auto lines = linesOf(piece);
  if (lines.empty()) return piece.location();
  return lineHolding(lines, offset)->location(piece.location());
}

void Runs::markStored(std::span<fragment::Fragment> fragments, std::uint32_t index, std::uint64_t from,
                      std::uint64_t length, fixup::FixupStore& fixups) {
  fragment::Bytes& run = *fragments[index].bytes();
  if (run.lines == 0 || length == 0) return;
  const auto lines = std::span(line_records_).subspan(run.first_line, run.lines);
  for (auto line = lineHolding(lines, from); line != lines.end() && line->offset < from + length; ++line) {
    if (line->stored()) continue;
    line->start |= line_record::LineRecord::kStoredFlag;
    --coalesced_instructions_;
    const std::uint64_t end = line + 1 != lines.end() ? line[1].offset : run.data.size();
    fixups.dropRange(index, line->offset, end);
  }
}

}  // namespace frontend::runs
