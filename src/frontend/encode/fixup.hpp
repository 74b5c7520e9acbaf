#pragma once
// Promises to write a value into an instruction field once the value is known.
// The encode pass adds one for every operand field it had to fill with a
// placeholder; assembly resolves the targets after a first layout and patches
// the fields into the image. Fixups are addressed by their index and only
// ever appended.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"

namespace frontend::fixup {

enum class FixupKind : std::uint8_t {
  symbol = 0,      // the text is a plain name, looked up as a symbol
  expression = 1,  // the text is parsed and evaluated
};

// How an absolute value must fit its field.
enum class FixupRangePolicy : std::uint8_t {
  wrap = 0,  // as unsigned or as signed
  signed_value = 1,
  unsigned_value = 2,
};

struct FixupTarget {
  // Borrowed when handed to the store, which keeps its own copy.
  std::string_view text;
  FixupKind kind = FixupKind::symbol;
  // Kept apart from the text and applied with wide arithmetic at patch time,
  // so that a target below its symbol (x - 4 with x at 0) still resolves.
  std::int64_t addend = 0;
};

// Diagnostics about a fixup point at its fragment's line, so the record keeps
// no place of its own, and its text lives in the store's text pool.
struct Fixup {
  std::int64_t addend = 0;
  std::uint32_t text_start = 0;  // in the store's text pool
  std::uint32_t text_size = 0;
  std::uint32_t fragment = 0;  // instruction fragment holding the field
  std::uint32_t offset = 0;    // byte offset of the field in that fragment
  std::uint16_t width = 0;     // field width in bits
  FixupKind kind = FixupKind::symbol;
  // The field receives the target minus the address just behind the field.
  bool pc_relative = false;
  FixupRangePolicy range_policy = FixupRangePolicy::wrap;
  // A store turned the fixup's instruction into plain bytes; the fixup is
  // neither patched nor counted as pending.
  bool dropped = false;
};

// A module holds one per symbolic operand.
static_assert(sizeof(Fixup) == 32);

// Symbol when the text is a name: a letter, '_' or '.' first, then letters,
// digits, '$', '.' or '_'; otherwise an expression.
FixupKind classifyTargetText(std::string_view text) noexcept;

class FixupStore {
 public:
  // Appends a fixup with range policy wrap and returns its index; fails with
  // TooManyFixups when the index, or the texts kept so far, would not fit 32
  // bits. The target text is copied into the store.
  qovrin::Result<std::uint32_t> addOwnedTarget(std::uint32_t fragment, FixupTarget target, bool pc_relative,
                                               std::uint32_t offset, std::uint16_t width);

  std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(fixups_.size()); }
  bool empty() const noexcept { return fixups_.empty(); }

  // Unchecked access; callers test the index against size() first.
  Fixup& operator[](std::uint32_t index) noexcept { return fixups_[index]; }
  const Fixup& operator[](std::uint32_t index) const noexcept { return fixups_[index]; }

  // Marks every fixup of the fragment dropped. Fixups arrive in fragment
  // order as lowering encodes its lines, so they are found by bisection;
  // only when they came out of order is an index by fragment built, once
  // per batch of additions.
  void dropFragment(std::uint32_t fragment);
  // Marks dropped the fixups of the fragment whose fields start in
  // [from, to). The bounds fall between instructions: within one the fields
  // come in the encoder's order, across instructions in offset order.
  void dropRange(std::uint32_t fragment, std::uint32_t from, std::uint64_t to);
  // Hands the newest fixups, those of fragment from, to fragment to, their
  // fields shift bytes further in: an instruction joined the bytes of an
  // earlier fragment.
  void moveNewest(std::uint32_t from, std::uint32_t to, std::uint32_t shift) noexcept;

  // The fixup's target as it was added; its text lives as long as the store.
  FixupTarget target(const Fixup& fixup) const noexcept {
    return {std::string_view(texts_).substr(fixup.text_start, fixup.text_size), fixup.kind, fixup.addend};
  }

 private:
  // Blocks instead of one array: a growing list is never copied whole.
  std::deque<Fixup> fixups_;
  // Offsets instead of views keep the records small; the texts of all fixups
  // are a small part of the source, so one growing string holds them.
  std::string texts_;
  bool in_fragment_order_ = true;
  // Positions of all fixups ordered by fragment, while out of fragment order
  // and as many as the fixups when built.
  std::vector<std::uint32_t> by_fragment_;
};

}  // namespace frontend::fixup
