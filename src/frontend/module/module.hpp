#pragma once
// The unit being assembled. Lowering fills it statement by statement, assembly
// encodes, lays out and materialises it; the driver owns it for the whole run
// and every other part borrows it.
//
// Every addition is all-or-nothing: a call that fails leaves the module as it
// was, and stores check their whole range before writing a byte.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "frontend/module/fixup.hpp"
#include "frontend/module/fragment.hpp"
#include "frontend/module/line_record.hpp"
#include "frontend/module/meta_function.hpp"
#include "frontend/module/name_index.hpp"
#include "frontend/module/frozen_bodies.hpp"
#include "frontend/module/runs.hpp"
#include "frontend/module/section.hpp"
#include "frontend/syntax/source_location.hpp"
#include "frontend/module/symbol.hpp"
#include "frontend/module/symbol_store.hpp"
#include "frontend/values/target.hpp"
#include "frontend/module/text_arena.hpp"
#include "frontend/module/value_versions.hpp"
#include "frontend/values/type_name.hpp"
#include "frontend/values/types.hpp"
#include "frontend/values/value.hpp"

namespace frontend::module {

// Largest single run of repeated bytes (padding) one call may emit; counts come
// from source text and must not size an allocation unchecked.
inline constexpr std::uint64_t kMaxRepeatedBytes = std::uint64_t{1} << 30;

// The largest output image (2 GiB). Bytes that would reach past it are
// refused as they are added, and the laid-out image is checked once more.
inline constexpr std::uint64_t kMaxImageSize = std::uint64_t{1} << 31;

// A source as it was read. Lines and spans borrow the text, so each one keeps
// its address for the module's whole life.
struct LoadedSource {
  std::string path;
  std::string text;
};

// A macro or statement function of a source, which does not carry into the
// sources lowered after it (a project's [include] files before its source).
struct SourceOnlyDefinition {
  std::string name;
  bool macro = false;  // else a statement function
  std::string path;    // of the source that defined it
  SourceLocation location;
  // The sources that the lowering call which defined it loaded, [first, end)
  // of the module's list: their lines saw the definition as their own.
  std::size_t first_source = 0;
  std::size_t end_source = 0;

  bool sharedWith(const SourceLocation& line) const noexcept {
    return line.span.source && *line.span.source >= first_source && *line.span.source < end_source;
  }
};

class Module {
 public:
  // A module with one output section ".text" (base 0, file offset 0), which is
  // the current section.
  explicit Module(target::Target target);

  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  // Moving keeps every loaded source text at its address.
  Module(Module&&) = default;
  Module& operator=(Module&&) = default;

  // Sections.
  qovrin::Result<std::uint32_t> createOutputSection(std::string_view name, std::uint64_t base,
                                                    std::uint64_t file_offset);
  // A section named ".virtual" that lays out addresses but stores no bytes.
  qovrin::Result<std::uint32_t> createVirtualSection(std::uint64_t base);

  // Fragments; each returns the new fragment's index.
  qovrin::Result<std::uint32_t> emitBytes(std::uint32_t section, std::span<const std::uint8_t> bytes,
                                          const SourceLocation& location);
  qovrin::Result<std::uint32_t> emitRepeatedByte(std::uint32_t section, std::uint8_t value, std::uint64_t count,
                                                 const SourceLocation& location);
  qovrin::Result<std::uint32_t> reserve(std::uint32_t section, std::uint64_t size, const SourceLocation& location);
  qovrin::Result<std::uint32_t> addAlignment(std::uint32_t section, std::uint64_t alignment, std::uint8_t fill,
                                             const SourceLocation& location);
  // The text is kept as a view into the line's source when it appears there
  // unchanged, else copied into the module's text store.
  qovrin::Result<std::uint32_t> appendIsaInstruction(std::uint32_t section, target::Target target,
                                                     std::string_view text, const SourceLocation& location);
  // Whether an instruction fragment still waits for the encode pass. Settling
  // is never undone, so the fragments before the first unsettled one are
  // passed over once and not looked at again.
  bool holdsUnsettledInstruction() noexcept;
  // Makes a settled instruction fragment plain bytes that open a run of their
  // own, which the lines after it may join (joinOpenRun); an instruction a
  // record cannot describe keeps its fragment. An x86 instruction may still
  // have fields to patch, whose fixups already name its fragment. A RISC-V
  // one with fixups keeps its fragment, which the patch phase encodes again.
  void settleIntoRun(std::uint32_t index);
  // Adds an encoded line straight to the open run, without a fragment of its
  // own, when it directly follows the run in its section (no other fragment,
  // no label in the way) and a record can describe it; none, changing
  // nothing, when it does not. Its fixups then belong to the run, at the
  // line's offset.
  std::optional<runs::RunLine> joinOpenRun(std::uint32_t section, target::Target target, bool pending,
                                           const fragment::SmallBytes& bytes, const SourceLocation& location);
  // Adds the bytes of one data line to the open run as a settled instruction
  // joins it, else as a fragment of their own that opens a run. The line's
  // record is marked stored from the start: it never counts as an
  // instruction. Bytes no run could hold get a fragment of their own as
  // from emitBytes.
  qovrin::Status emitDataLine(std::uint32_t section, std::span<const std::uint8_t> bytes,
                              const SourceLocation& location);
  // Settled instructions held in runs, without those a store made plain bytes.
  std::uint64_t coalescedInstructions() const noexcept { return runs_.coalescedInstructions(); }
  // The instructions a run holds, in order; none for other fragments.
  std::span<const line_record::LineRecord> linesOf(const fragment::Fragment& piece) const noexcept {
    return runs_.linesOf(piece);
  }
  // Where the byte at offset in a fragment came from: in a run, the line
  // holding it, else the fragment's own line. Diagnostics about a fixup stand
  // there. The fragment index must be valid.
  SourceLocation locationAt(std::uint32_t fragment, std::uint64_t offset) const noexcept;

  // Symbols. defineValue takes the value only when it succeeds.
  qovrin::Status defineAnchoredLabel(std::string_view name, std::uint32_t section, std::uint64_t offset,
                                     std::uint32_t fragment_position, const SourceLocation& location);
  qovrin::Status defineValue(std::string_view name, value::Value&& value, bool is_mutable,
                             const SourceLocation& location);

  // Every change of a value symbol's value goes through here first, so
  // that the snapshots taken before still read what they saw.
  value::Value& writableValue(symbol::ValueSymbol& symbol) {
    versions_.beforeWrite(symbol);
    return symbol.value;
  }
  std::shared_ptr<const value::ModuleSnapshot> snapshotValues() { return versions_.snapshot(); }
  // The value of the value symbol of that name as the snapshot saw it; null
  // for a label, an unknown name or a symbol defined after the snapshot.
  const value::Value* valueAt(std::string_view name, const value::ModuleSnapshot& snapshot) const noexcept;
  // The largest capture depth among the values of the value symbols.
  std::uint64_t deepestValueCapture() { return versions_.deepestCapture(); }

  const symbol::Symbol* findSymbol(std::string_view name) const noexcept;
  symbol::Symbol* findSymbol(std::string_view name) noexcept;
  // The symbol's position in definition order.
  std::optional<std::uint32_t> findSymbolIndex(std::string_view name) const noexcept;
  std::string_view symbolName(const symbol::Symbol& symbol) const noexcept;

  // Base of the label's section plus its offset.
  qovrin::Result<std::uint64_t> labelAddress(const symbol::Label& label) const;

  // Emitted bytes before layout, by absolute address in a section. An access
  // may cross fragments but not reserves or alignment padding. A store into an
  // instruction fragment turns it into plain bytes, so the encode pass leaves
  // it alone from then on and no fixup writes over it; a store into a run
  // does so for the lines it reaches. Loads change no byte, but extend the
  // section's start offsets as stores do.
  qovrin::Status loadBytesAt(std::uint32_t section, std::uint64_t address, std::span<std::uint8_t> destination);
  qovrin::Status storeBytesAt(std::uint32_t section, std::uint64_t address, std::span<const std::uint8_t> bytes);
  // Little-endian integers of 1, 2, 4 or 8 bytes; a stored value must fit,
  // unsigned or as a negative number's two's complement.
  qovrin::Result<std::uint64_t> loadIntegerAt(std::uint32_t section, std::uint64_t address, std::uint64_t width);
  qovrin::Status storeIntegerAt(std::uint32_t section, std::uint64_t address, std::uint64_t value, std::uint64_t width);
  // A copy of count emitted bytes; the range is checked before anything is
  // allocated.
  qovrin::Result<std::vector<std::uint8_t>> readBytesAt(std::uint32_t section, std::uint64_t address,
                                                        std::uint64_t count);
  // Whether the fragment's size can no longer change: it is no instruction
  // waiting for its encoding and no run the next lines may still join. The
  // index must be valid.
  bool hasFinalSize(std::uint32_t fragment) const noexcept;

  // Types and the names bound to them.
  types::TypeStore& types() noexcept { return types_; }
  const types::TypeStore& types() const noexcept { return types_; }
  const type_name::TypeNameTable& typeNames() const noexcept { return type_names_; }
  type_name::TypeTables typeTables() noexcept { return {types_, type_names_}; }
  // The id bound to name, else a new integer type registered under it.
  qovrin::Result<std::uint32_t> getOrAddIntType(std::string_view name, std::uint16_t bits, bool is_signed) {
    return type_name::getOrAddIntType(typeTables(), name, bits, is_signed);
  }

  // Loaded sources, indexed by the source index of a span.
  qovrin::Result<std::uint32_t> addSource(std::string path, std::string text);
  const std::deque<LoadedSource>& sources() const noexcept { return sources_; }

  // Kept when a source's lowering ends, so that a later source that uses the
  // name can be told why it finds none.
  void keepSourceOnlyDefinition(SourceOnlyDefinition definition) {
    source_only_definitions_.push_back(std::move(definition));
  }
  // The definition of that name whose lowering call read `line`, else the
  // first one of another call.
  const SourceOnlyDefinition* sourceOnlyDefinition(std::string_view name, const SourceLocation& line) const noexcept {
    const SourceOnlyDefinition* found = nullptr;
    for (const SourceOnlyDefinition& definition : source_only_definitions_) {
      if (definition.name != name) continue;
      if (definition.sharedWith(line)) return &definition;
      if (found == nullptr) found = &definition;
    }
    return found;
  }

  // Texts kept for the module's lifetime (the identities of imported files).

  // Identities of the sources imported so far; an import lowers a source once
  // per module, across every lowering call into it.
  bool isImported(std::string_view identity) const noexcept { return imported_.contains(identity); }
  void markImported(std::string_view identity) { imported_.emplace(identity); }

  section::SectionStore& sections() noexcept { return sections_; }
  const section::SectionStore& sections() const noexcept { return sections_; }
  std::span<fragment::Fragment> fragments() noexcept { return fragments_; }
  std::span<const fragment::Fragment> fragments() const noexcept { return fragments_; }
  symbol::SymbolStore& symbols() noexcept { return symbols_; }
  const symbol::SymbolStore& symbols() const noexcept { return symbols_; }
  // Instruction fields to patch after layout.
  fixup::FixupStore& fixups() noexcept { return fixups_; }
  const fixup::FixupStore& fixups() const noexcept { return fixups_; }

  // Frozen blocks, in source order, for the late-layout run and the
  // deferred finalizers.
  std::vector<output::contracts::LateLayoutBlock>& lateLayoutBlocks() noexcept { return late_layout_blocks_; }
  const std::vector<output::contracts::LateLayoutBlock>& lateLayoutBlocks() const noexcept {
    return late_layout_blocks_;
  }
  std::vector<output::contracts::DeferredBlock>& deferredBlocks() noexcept { return deferred_blocks_; }
  const std::vector<output::contracts::DeferredBlock>& deferredBlocks() const noexcept { return deferred_blocks_; }
  // Value functions: kept with the module, since assembly-time evaluation
  // still calls them.
  meta_function::Store& metaFunctions() noexcept { return meta_functions_; }
  const meta_function::Store& metaFunctions() const noexcept { return meta_functions_; }

  diagnostic::DiagnosticStore& diagnostics() noexcept { return diagnostics_; }
  const diagnostic::DiagnosticStore& diagnostics() const noexcept { return diagnostics_; }

  target::Target target() const noexcept { return target_; }
  void setTarget(target::Target target) noexcept { target_ = target; }
  std::uint32_t currentSection() const noexcept { return current_section_; }
  void setCurrentSection(std::uint32_t section) noexcept { current_section_ = section; }
  // Whether a new source reserves room for the fragments its lines will
  // likely add. Under a limit on the address space room counts whether or
  // not it is used, and a reservation granted under a larger limit would
  // starve what a smaller one never asked for.
  void setReservesForLines(bool reserves) noexcept { reserves_for_lines_ = reserves; }

 private:
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
  };

  qovrin::Result<std::uint32_t> appendFragment(std::uint32_t section, fragment::Payload&& payload,
                                               const SourceLocation& location);
  // Room for the fragments the lines of a new source will likely add.
  void reserveForLines(std::size_t lines);
  // A view of text that lives as long as the module.
  std::string_view keepInstructionText(std::string_view text, const SourceLocation& location);
  // Where text appears in the source within the location's span, as an offset
  // from the span's start.
  std::optional<std::size_t> offsetInSpan(std::string_view text, const SourceLocation& location) const noexcept;
  // Where a new symbol's name will be read from, if the source holds it.
  std::optional<symbol::NameRef> nameInSource(std::string_view name, const SourceLocation& location) const noexcept;
  qovrin::Status checkNewSymbol(std::string_view name) const;
  // Once a store made an instruction plain bytes, the stored bytes are what
  // the user wants: patching a field afterwards (or, for RISC-V, encoding
  // the whole instruction again) would write over them.
  void dropFixupsOf(std::uint32_t fragment);
  // Adds a line the runs accepted to the open run, the newest entry of the
  // section, whose known sizes then end before it.
  runs::RunLine appendToOpenRun(std::uint32_t section, line_record::LineRecord record,
                                std::span<const std::uint8_t> bytes);
  // After checkNewSymbol accepted the name; make_record(name_ref) gives the
  // symbol's record and is the last step that may fail. Fails before any
  // change when the name pool is full.
  template <typename MakeRecord>
  qovrin::Status addSymbol(std::string_view name, MakeRecord&& make_record, const SourceLocation& location);

  // Calls visit(fragment, offset in its stored bytes, length, offset in the
  // range) for each stored piece of [address, address + count) in order, or
  // fails without calling it past the failing piece. The walk starts at the
  // last indexed entry that begins at or before the address.
  template <typename Fragments, typename Visit>
  static qovrin::Status walkRange(const section::SectionStore& sections, Fragments& fragments, std::uint32_t section,
                                  std::uint64_t address, std::uint64_t count, Visit&& visit);
  // Extends the section's start offsets over the entries whose sizes are
  // final; an entry that fails to lay out ends them, and the walk meets it.
  void indexStarts(std::uint32_t section);
  // The entry at that position in the section may change its size: what the
  // section's caches knew past its start is dropped.
  void forgetSizesFrom(std::uint32_t section, std::size_t entry) noexcept;

  section::SectionStore sections_;
  symbol::SymbolStore symbols_;
  name_index::NameIndex symbol_index_;
  std::vector<fragment::Fragment> fragments_;
  fixup::FixupStore fixups_;
  types::TypeStore types_;
  type_name::TypeNameTable type_names_;
  std::deque<LoadedSource> sources_;
  std::vector<SourceOnlyDefinition> source_only_definitions_;
  text_arena::TextArena instruction_texts_;
  std::unordered_set<std::string, NameHash, std::equal_to<>> imported_;
  std::vector<output::contracts::LateLayoutBlock> late_layout_blocks_;
  std::vector<output::contracts::DeferredBlock> deferred_blocks_;
  meta_function::Store meta_functions_;
  value_versions::ValueVersions versions_;
  diagnostic::DiagnosticStore diagnostics_;
  target::Target target_;
  std::uint32_t current_section_ = 0;
  bool reserves_for_lines_ = true;
  std::size_t settled_prefix_ = 0;  // fragments known to need no encoding
  runs::Runs runs_;
};

}  // namespace frontend::module
