#pragma once
// Module-level names: labels anchored in a section, and named meta values.
// Labels and values share one name space.
//
// A module keeps one record per label, so the record holds only what a label
// needs; a value symbol's payload lives apart and the record points to it.

#include <cstdint>
#include <vector>

#include "frontend/module/packed_location.hpp"
#include "frontend/syntax/source_location.hpp"
#include "frontend/values/value.hpp"

namespace frontend::symbol {

enum class SymbolKind : std::uint8_t { value = 0, label = 1 };

// A value the symbol held before a write, kept while a snapshot taken
// since it was written can still read it.
struct EarlierValue {
  std::uint64_t written = 0;
  value::Value value;
};

struct ValueSymbol {
  value::Value value;
  bool is_mutable = false;  // a module-level let; const and project defines are not
  // The rest belongs to the module's ValueVersions: when the value was
  // written, the values it replaced that snapshots still read (oldest
  // first), and the capture depth of the value as last counted.
  std::uint64_t written = 0;
  std::vector<EarlierValue> earlier;
  std::uint64_t counted_depth = 0;
  bool counted = false;
  bool listed = false;  // among the symbols that keep earlier values
};

// Packed: its fields are read and written by value only.
struct [[gnu::packed]] Label {
  std::uint64_t offset = 0;  // from the section's base
  std::uint32_t section = 0;
  // Position in the section's fragment list in front of which the label
  // stands; the fragment count means the end of the section.
  std::uint32_t fragment_position = 0;
  // The offset follows the laid-out offset of the fragment at that position.
  bool anchored = false;
  // Bytes into that fragment: a label between settled lines stands inside
  // the run they joined.
  std::uint32_t run_offset = 0;
};

static_assert(sizeof(Label) == 21);

// Where a symbol's name is kept. Most names are written in the source within
// the span of their definition: those are read back from there, as a number
// of bytes after the span's start and a length of at most kMaxInSource each.
// The others sit in the symbol store's name pool.
struct NameRef {
  static constexpr std::uint32_t kMaxInSource = 0xFFFF;

  static NameRef inSource(std::uint32_t delta, std::uint32_t size) noexcept { return {delta << 16 | size, true}; }
  std::uint32_t delta() const noexcept { return bits >> 16; }
  std::uint32_t size() const noexcept { return bits & kMaxInSource; }

  std::uint32_t bits = 0;  // in the source: delta << 16 | length; else an offset into the pool
  bool in_source = false;
};

// The name is fixed at creation: the module indexes symbols by it, and
// Module::symbolName reads it.
class [[gnu::packed]] Symbol {
 public:
  Symbol(const Label& label, const SourceLocation& location, NameRef name) noexcept
      : location_(location), name_bits_(name.bits), name_in_source_(name.in_source), is_label_(true) {
    payload_.label = label;
  }
  Symbol(ValueSymbol& value, const SourceLocation& location, NameRef name) noexcept
      : location_(location), name_bits_(name.bits), name_in_source_(name.in_source), is_label_(false) {
    payload_.value = &value;
  }

  SymbolKind kind() const noexcept { return is_label_ ? SymbolKind::label : SymbolKind::value; }

  Label* label() noexcept { return is_label_ ? &payload_.label : nullptr; }
  const Label* label() const noexcept { return is_label_ ? &payload_.label : nullptr; }
  ValueSymbol* value() noexcept { return is_label_ ? nullptr : payload_.value; }
  const ValueSymbol* value() const noexcept { return is_label_ ? nullptr : payload_.value; }

  // Of the definition.
  SourceLocation location() const noexcept { return location_.unpack(); }
  NameRef name() const noexcept { return {name_bits_, name_in_source_}; }

 private:
  union [[gnu::packed]] Payload {
    Label label;
    ValueSymbol* value;
  };

  Payload payload_{};
  PackedLocation location_;
  std::uint32_t name_bits_;
  bool name_in_source_ : 1;
  bool is_label_ : 1;
};

static_assert(sizeof(Symbol) == 43);

}  // namespace frontend::symbol
