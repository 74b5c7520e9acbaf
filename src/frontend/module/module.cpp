#include "frontend/module/module.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

#include "common/align.hpp"
#include "common/little_endian.hpp"

namespace frontend::module {

using qovrin::alignUp;
using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::uint64_t kIndexLimit = std::numeric_limits<std::uint32_t>::max();

// At least the lines as the lexer cuts them (LF, a lone CR and CR LF each
// end one), and only a reservation's hint: counting CR LF as two keeps the
// loop one compare per byte, which runs on vectors.
std::size_t lineCountBound(std::string_view text) noexcept {
  std::size_t ends = 0;
  // Counted in blocks whose counts fit a byte, so that the vectors add bytes.
  constexpr std::size_t kBlock = 255;
  for (std::size_t at = 0; at < text.size(); at += kBlock) {
    const std::size_t end = std::min(text.size(), at + kBlock);
    std::uint8_t block = 0;
    for (std::size_t index = at; index < end; ++index)
      block = static_cast<std::uint8_t>(block + ((text[index] == '\n') | (text[index] == '\r')));
    ends += block;
  }
  return ends + 1;
}

// Where an entry that begins at offset ends as byte accesses and layout place
// it: stored bytes after their length, a reserve after rounding up to its
// own alignment and then its size, padding at the next multiple.
qovrin::Result<std::uint64_t> entryEnd(std::uint64_t offset, const fragment::Fragment& piece) {
  std::uint64_t end = 0;
  if (const auto* stored = piece.storedBytes()) {
    if (__builtin_add_overflow(offset, stored->size(), &end)) return fail(Error::OffsetOverflow);
    return end;
  }
  if (const auto* space = piece.reserve()) {
    const auto aligned = alignUp(offset, space->alignment);
    if (!aligned) return aligned;
    if (__builtin_add_overflow(*aligned, space->size, &end)) return fail(Error::OffsetOverflow);
    return end;
  }
  return alignUp(offset, piece.alignment()->alignment);
}

}  // namespace

Module::Module(target::Target target) : target_(target) {
  // A fresh store holds no sections, so the first addition cannot fail.
  current_section_ = *sections_.addWithKind(".text", section::SectionKind::output);
}

qovrin::Result<std::uint32_t> Module::createOutputSection(std::string_view name, std::uint64_t base,
                                                          std::uint64_t file_offset) {
  const auto index = sections_.addWithKind(name, section::SectionKind::output);
  if (!index) return index;
  sections_[*index].base = base;
  sections_[*index].file_offset = file_offset;
  return index;
}

qovrin::Result<std::uint32_t> Module::createVirtualSection(std::uint64_t base) {
  const auto index = sections_.addWithKind(".virtual", section::SectionKind::virtual_region);
  if (!index) return index;
  sections_[*index].base = base;
  return index;
}

qovrin::Result<std::uint32_t> Module::appendFragment(std::uint32_t section, fragment::Payload&& payload,
                                                     const SourceLocation& location) {
  if (fragments_.size() > kIndexLimit) return fail(Error::TooManyFragments);
  // Room in the section's list first: after the fragment is in, nothing can fail.
  QOVRIN_TRY(sections_.reserveFragmentSlot(section));
  const auto index = static_cast<std::uint32_t>(fragments_.size());
  fragments_.push_back(fragment::Fragment{std::move(payload), section, location});
  if (const auto appended = sections_.appendFragment(section, index); !appended) {
    fragments_.pop_back();
    return fail(appended.error());
  }
  return index;
}

qovrin::Result<std::uint32_t> Module::emitBytes(std::uint32_t section, std::span<const std::uint8_t> bytes,
                                                const SourceLocation& location) {
  return appendFragment(section, fragment::Bytes{fragment::SmallBytes(bytes)}, location);
}

qovrin::Result<std::uint32_t> Module::emitRepeatedByte(std::uint32_t section, std::uint8_t value, std::uint64_t count,
                                                       const SourceLocation& location) {
  if (count > kMaxRepeatedBytes) return fail(Error::InvalidApiInteger);
  if (!sections_.contains(section)) return fail(Error::InvalidSection);
  return appendFragment(section, fragment::Bytes{fragment::SmallBytes(count, value)}, location);
}

qovrin::Result<std::uint32_t> Module::reserve(std::uint32_t section, std::uint64_t size,
                                              const SourceLocation& location) {
  return appendFragment(section, fragment::Reserve{size, 1}, location);
}

qovrin::Result<std::uint32_t> Module::addAlignment(std::uint32_t section, std::uint64_t alignment, std::uint8_t fill,
                                                   const SourceLocation& location) {
  return appendFragment(section, fragment::Alignment{alignment, fill}, location);
}

qovrin::Result<std::uint32_t> Module::appendIsaInstruction(std::uint32_t section, target::Target target,
                                                           std::string_view text, const SourceLocation& location) {
  // Every kept text must fit the fragment's 32-bit length.
  if (text.size() > kIndexLimit) return fail(Error::InstructionTooLarge);
  fragment::Instruction line;
  line.setText(keepInstructionText(text, location));
  line.target = target;
  return appendFragment(section, std::move(line), location);
}

bool Module::holdsUnsettledInstruction() noexcept {
  settled_prefix_ = std::min(settled_prefix_, fragments_.size());
  for (; settled_prefix_ < fragments_.size(); ++settled_prefix_) {
    const fragment::Instruction* line = fragments_[settled_prefix_].instruction();
    if (line != nullptr && !line->settled) return true;
  }
  return false;
}

void Module::settleIntoRun(std::uint32_t index) { runs_.settle(fragments_, index); }

qovrin::Status Module::emitDataLine(std::uint32_t section, std::span<const std::uint8_t> bytes,
                                    const SourceLocation& location) {
  constexpr std::uint16_t kData = line_record::LineRecord::kStoredFlag;
  const bool joins = !bytes.empty() && bytes.size() <= line_record::kMaxRunBytes;
  if (joins) {
    if (const auto record = runs_.recordFor(fragments_, sections_, symbols_, section, bytes.size(), location)) {
      appendToOpenRun(section,
                      line_record::LineRecord::of(static_cast<std::uint16_t>(record->start | kData), record->offset),
                      bytes);
      return {};
    }
  }
  const auto index = emitBytes(section, bytes, location);
  if (!index) return fail(index.error());
  if (joins && runs_.hasRecordRoom()) runs_.openAt(fragments_, *index, line_record::LineRecord::of(kData, 0));
  return {};
}

std::optional<runs::RunLine> Module::joinOpenRun(std::uint32_t section, target::Target target, bool pending,
                                                 const fragment::SmallBytes& bytes, const SourceLocation& location) {
  if (!runs::Runs::mayHold(target, pending, bytes.size())) return std::nullopt;
  const auto record = runs_.recordFor(fragments_, sections_, symbols_, section, bytes.size(), location);
  if (!record) return std::nullopt;
  return appendToOpenRun(section, *record, bytes.view());
}

// Inlined into the ways a line joins its run, with the size caches' check in
// it: 25 instructions fewer per line of 200k `db(1)` lines (callgrind,
// bench/data_throughput.py's shape).
[[gnu::always_inline]] inline runs::RunLine Module::appendToOpenRun(std::uint32_t section,
                                                                    line_record::LineRecord record,
                                                                    std::span<const std::uint8_t> bytes) {
  // The line would have been the section's next entry; the run it joins is
  // the one before and grows.
  const auto joining = static_cast<std::uint32_t>(sections_[section].fragments.size());
  forgetSizesFrom(section, joining - 1);
  return runs_.join(fragments_, symbols_, record, bytes, joining);
}

SourceLocation Module::locationAt(std::uint32_t fragment, std::uint64_t offset) const noexcept {
  return runs_.locationAt(fragments_[fragment], offset);
}

std::string_view Module::keepInstructionText(std::string_view text, const SourceLocation& location) {
  // Most lines reach their fragment as written, so the source already holds
  // their characters; only lines that lowering rewrote need a copy.
  if (const auto offset = offsetInSpan(text, location))
    return std::string_view(sources_[*location.span.source].text).substr(location.span.start + *offset, text.size());
  return instruction_texts_.keep(text);
}

std::optional<std::size_t> Module::offsetInSpan(std::string_view text, const SourceLocation& location) const noexcept {
  if (!location.span.source || *location.span.source >= sources_.size()) return std::nullopt;
  const std::string_view source = sources_[*location.span.source].text;
  if (location.span.start > location.span.end || location.span.end > source.size()) return std::nullopt;
  const std::string_view line = source.substr(location.span.start, location.span.end - location.span.start);
  const std::size_t found = line.find(text);
  if (found == std::string_view::npos) return std::nullopt;
  return found;
}

std::optional<symbol::NameRef> Module::nameInSource(std::string_view name, const SourceLocation& location) const noexcept {
  if (name.empty() || name.size() > symbol::NameRef::kMaxInSource) return std::nullopt;
  const auto offset = offsetInSpan(name, location);
  if (!offset || *offset > symbol::NameRef::kMaxInSource) return std::nullopt;
  return symbol::NameRef::inSource(static_cast<std::uint32_t>(*offset), static_cast<std::uint32_t>(name.size()));
}

qovrin::Status Module::checkNewSymbol(std::string_view name) const {
  if (findSymbol(name) != nullptr) return fail(Error::DuplicateSymbol);
  // Symbol positions are 32-bit.
  if (symbols_.size() >= kIndexLimit) return fail(Error::TooManySymbols);
  return {};
}

template <typename MakeRecord>
qovrin::Status Module::addSymbol(std::string_view name, MakeRecord&& make_record, const SourceLocation& location) {
  const auto in_source = nameInSource(name, location);
  if (!in_source && !symbols_.poolHasRoomFor(name.size())) return fail(Error::TooManySymbols);
  // Every allocation comes before the record is made, since making a value
  // symbol's moves the caller's data: a failure leaves both the module and
  // the caller as they were.
  symbol_index_.reserveOne([&](std::uint32_t position) { return symbolName(symbols_[position]); });
  symbols_.reserveOne(in_source ? 0 : name.size());
  const symbol::Symbol record = make_record(in_source ? *in_source : symbols_.nextPoolRef());
  if (!in_source) symbols_.pool(name);
  const auto index = static_cast<std::uint32_t>(symbols_.size());
  symbols_.push(record);
  symbol_index_.add(name, index);
  return {};
}

qovrin::Status Module::defineAnchoredLabel(std::string_view name, std::uint32_t section, std::uint64_t offset,
                                           std::uint32_t fragment_position, const SourceLocation& location) {
  QOVRIN_TRY(checkNewSymbol(name));
  // Room for the run's list before the symbol goes in, so that nothing fails
  // after it.
  runs_.reserveLabel();
  const symbol::Label label{offset, section, fragment_position, true};
  QOVRIN_TRY(
      addSymbol(name, [&](symbol::NameRef ref) { return symbol::Symbol(label, location, ref); }, location));
  runs_.noteLabel(static_cast<std::uint32_t>(symbols_.size() - 1));
  return {};
}

qovrin::Status Module::defineValue(std::string_view name, value::Value&& value, bool is_mutable,
                                   const SourceLocation& location) {
  // Checked before the value is moved, so that a refused value stays with the caller.
  QOVRIN_TRY(checkNewSymbol(name));
  return addSymbol(
      name,
      [&](symbol::NameRef ref) {
        versions_.reserveDefinition();
        symbol::ValueSymbol fresh;
        fresh.value = std::move(value);
        fresh.is_mutable = is_mutable;
        symbol::ValueSymbol& kept = symbols_.keepValue(std::move(fresh));
        versions_.defined(kept);
        return symbol::Symbol(kept, location, ref);
      },
      location);
}

const value::Value* Module::valueAt(std::string_view name, const value::ModuleSnapshot& snapshot) const noexcept {
  const symbol::Symbol* symbol = findSymbol(name);
  const symbol::ValueSymbol* named = symbol == nullptr ? nullptr : symbol->value();
  return named == nullptr ? nullptr : value_versions::ValueVersions::at(*named, snapshot);
}

std::optional<std::uint32_t> Module::findSymbolIndex(std::string_view name) const noexcept {
  return symbol_index_.find(name, [&](std::uint32_t position) { return symbolName(symbols_[position]); });
}

const symbol::Symbol* Module::findSymbol(std::string_view name) const noexcept {
  const auto found = findSymbolIndex(name);
  return found ? &symbols_[*found] : nullptr;
}

symbol::Symbol* Module::findSymbol(std::string_view name) noexcept {
  const auto* found = std::as_const(*this).findSymbol(name);
  return const_cast<symbol::Symbol*>(found);
}

std::string_view Module::symbolName(const symbol::Symbol& symbol) const noexcept {
  const symbol::NameRef name = symbol.name();
  if (!name.in_source) return symbols_.pooledName(name.bits);
  const SourceSpan span = symbol.location().span;
  return std::string_view(sources_[*span.source].text).substr(span.start + name.delta(), name.size());
}

qovrin::Result<std::uint64_t> Module::labelAddress(const symbol::Label& label) const {
  if (!sections_.contains(label.section)) return fail(Error::InvalidOperand);
  std::uint64_t address = 0;
  if (__builtin_add_overflow(sections_[label.section].base, label.offset, &address)) return fail(Error::InvalidNumber);
  return address;
}

bool Module::hasFinalSize(std::uint32_t fragment) const noexcept {
  const fragment::Instruction* line = fragments_[fragment].instruction();
  if (line != nullptr && !line->settled) return false;
  return !runs_.mayGrow(fragment, fragments_.size());
}

[[gnu::always_inline]] inline void Module::forgetSizesFrom(std::uint32_t section, std::size_t entry) noexcept {
  section::Section& target = sections_[section];
  if (target.starts.size() > entry + 1) target.starts.resize(entry + 1);
  if (target.measured.entries > entry) target.measured = {};
}

void Module::indexStarts(std::uint32_t section) {
  if (!sections_.contains(section)) return;
  section::Section& target = sections_[section];
  std::vector<std::uint64_t>& starts = target.starts;
  // Only a shortcut: without room for it, walks go on from what is indexed.
  try {
    if (starts.empty()) starts.push_back(0);
    while (starts.size() <= target.fragments.size()) {
      const std::uint32_t index = target.fragments[starts.size() - 1];
      if (index >= fragments_.size() || !hasFinalSize(index)) return;
      const auto end = entryEnd(starts.back(), fragments_[index]);
      if (!end) return;
      starts.push_back(*end);
    }
  } catch (const std::bad_alloc&) {
  }
}

template <typename Fragments, typename Visit>
qovrin::Status Module::walkRange(const section::SectionStore& sections, Fragments& fragments, std::uint32_t section,
                                 std::uint64_t address, std::uint64_t count, Visit&& visit) {
  if (!sections.contains(section)) return fail(Error::InvalidSection);
  const section::Section& target = sections[section];
  if (address < target.base) return fail(Error::InvalidApiArgument);
  std::uint64_t position = address - target.base;
  const std::uint64_t start = position;
  std::uint64_t end = 0;
  if (__builtin_add_overflow(position, count, &end)) return fail(Error::OffsetOverflow);
  if (count == 0) return {};
  if (target.fragments.empty()) return fail(Error::InvalidApiArgument);

  // Fragments lie one after another from offset 0, and every entry before
  // the last indexed one that begins at or before the position also ends
  // there or before: a walk from the first entry would pass over them all.
  const std::vector<std::uint64_t>& starts = target.starts;
  const auto after = std::upper_bound(starts.begin(), starts.end(), position);
  std::size_t entry = after == starts.begin() ? 0 : static_cast<std::size_t>(after - starts.begin() - 1);
  std::uint64_t offset = entry < starts.size() ? starts[entry] : 0;
  for (; entry < target.fragments.size(); ++entry) {
    const std::uint32_t index = target.fragments[entry];
    if (index >= fragments.size()) return fail(Error::InvalidFragment);
    auto& piece = fragments[index];
    const auto piece_end = entryEnd(offset, piece);
    if (!piece_end) return fail(piece_end.error());
    if (position < *piece_end) {
      // Reserves and padding hold no bytes to read or write.
      if (piece.storedBytes() == nullptr) return fail(Error::InvalidApiArgument);
      const std::uint64_t length = std::min(end, *piece_end) - position;
      visit(piece, position - offset, length, position - start);
      position += length;
      if (position == end) return {};
    }
    offset = *piece_end;
  }
  return fail(Error::InvalidApiArgument);
}

qovrin::Status Module::loadBytesAt(std::uint32_t section, std::uint64_t address,
                                   std::span<std::uint8_t> destination) {
  indexStarts(section);
  return walkRange(sections_, std::as_const(fragments_), section, address, destination.size(),
                   [&](const fragment::Fragment& piece, std::uint64_t from, std::uint64_t length, std::uint64_t to) {
                     const auto& stored = *piece.storedBytes();
                     std::copy_n(stored.begin() + static_cast<std::ptrdiff_t>(from), length,
                                 destination.begin() + static_cast<std::ptrdiff_t>(to));
                   });
}

qovrin::Result<std::vector<std::uint8_t>> Module::readBytesAt(std::uint32_t section, std::uint64_t address,
                                                              std::uint64_t count) {
  indexStarts(section);
  QOVRIN_TRY(walkRange(sections_, std::as_const(fragments_), section, address, count, [](auto&&...) {}));
  std::vector<std::uint8_t> bytes(count);
  QOVRIN_TRY(loadBytesAt(section, address, bytes));
  return bytes;
}

qovrin::Status Module::storeBytesAt(std::uint32_t section, std::uint64_t address, std::span<const std::uint8_t> bytes) {
  // Check the whole range first, so that a failing store writes nothing.
  indexStarts(section);
  QOVRIN_TRY(walkRange(sections_, std::as_const(fragments_), section, address, bytes.size(), [](auto&&...) {}));
  return walkRange(sections_, fragments_, section, address, bytes.size(),
                   [&](fragment::Fragment& piece, std::uint64_t from, std::uint64_t length, std::uint64_t to) {
                     const auto index = static_cast<std::uint32_t>(&piece - fragments_.data());
                     if (auto* line = piece.instruction()) {
                       dropFixupsOf(index);
                       piece.becomeBytes(std::move(line->encoded));
                     }
                     runs_.markStored(fragments_, index, from, length, fixups_);
                     auto& stored = piece.bytes()->data;
                     std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(to), length,
                                 stored.begin() + static_cast<std::ptrdiff_t>(from));
                   });
}

qovrin::Result<std::uint64_t> Module::loadIntegerAt(std::uint32_t section, std::uint64_t address,
                                                    std::uint64_t width) {
  if (!qovrin::isIntegerWidth(width)) return fail(Error::InvalidApiInteger);
  std::uint8_t buffer[8] = {};
  const std::span<std::uint8_t> bytes(buffer, width);
  QOVRIN_TRY(loadBytesAt(section, address, bytes));
  return qovrin::readLittleEndian(bytes);
}

qovrin::Status Module::storeIntegerAt(std::uint32_t section, std::uint64_t address, std::uint64_t value,
                                      std::uint64_t width) {
  if (!qovrin::isIntegerWidth(width)) return fail(Error::InvalidApiInteger);
  if (!qovrin::fitsIntegerWidth(value, width)) return fail(Error::InvalidApiInteger);
  std::uint8_t buffer[8] = {};
  const std::span<std::uint8_t> bytes(buffer, width);
  qovrin::writeLittleEndian(bytes, value);
  return storeBytesAt(section, address, bytes);
}

void Module::dropFixupsOf(std::uint32_t fragment) { fixups_.dropFragment(fragment); }

qovrin::Result<std::uint32_t> Module::addSource(std::string path, std::string text) {
  if (sources_.size() > kIndexLimit) return fail(Error::TooManySources);
  if (reserves_for_lines_) reserveForLines(lineCountBound(text));
  sources_.push_back(LoadedSource{std::move(path), std::move(text)});
  return static_cast<std::uint32_t>(sources_.size() - 1);
}

void Module::reserveForLines(std::size_t lines) {
  // A line rarely makes more than one fragment. Room reserved up front keeps
  // the lists from being copied as they grow, and the pages of a large
  // reservation that are never written never take memory.
  const auto reserveMore = [lines](auto& list) {
    const std::size_t wanted = std::min<std::size_t>(list.size() + lines, kIndexLimit);
    if (wanted <= list.capacity()) return;
    // Only a hint: a source of many empty lines may ask for more than the
    // system grants at once, and then the lists grow as they would anyway.
    try {
      list.reserve(std::max(wanted, 2 * list.capacity()));
    } catch (const std::bad_alloc&) {
    }
  };
  reserveMore(fragments_);
  runs_.reserveRecords(reserveMore);
  reserveMore(sections_[current_section_].fragments);
}


}  // namespace frontend::module
