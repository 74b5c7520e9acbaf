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
  // A 64-bit mode displacement: the field takes what wrap takes, but the
  // processor sign-extends it, so a value that is not signed reaches
  // another address and warns.
  sign_extended = 3,
};

// The width at which the processor wraps the address that a PC-relative
// field leads to: the instruction pointer's. A 16-bit branch in 32-bit code
// cuts the address to 16 bits, so it reaches only the lowest 64K of a
// 32-bit address space.
enum class PointerWidth : std::uint8_t { bits64 = 0, bits16 = 1, bits32 = 2, bits16_in_32 = 3 };

constexpr std::uint16_t pointerBits(PointerWidth width) noexcept {
  return width == PointerWidth::bits16 || width == PointerWidth::bits16_in_32 ? 16
         : width == PointerWidth::bits32                                      ? 32
                                                                              : 64;
}

// The width of the addresses that both ends of the field lie at.
constexpr std::uint16_t addressSpaceBits(PointerWidth width) noexcept {
  return width == PointerWidth::bits16_in_32 ? 32 : pointerBits(width);
}

struct FixupTarget {
  // Borrowed when handed to the store, which keeps its own copy.
  std::string_view text;
  FixupKind kind = FixupKind::symbol;
  // Kept apart from the text and applied with wide arithmetic at patch time,
  // so that a target below its symbol (x - 4 with x at 0) still resolves.
  std::int64_t addend = 0;
};

// Diagnostics about a fixup point at the line holding its field, which the
// module finds from the fragment and offset, so the record keeps no place of
// its own. Its text lives in the store's text pool, and so does
// what nearly every fixup lacks: an addend other than 0 and a text size that
// does not fit the short one, both in front of the text. Peak memory of the
// x86_throughput.py labels mix: see line_record.hpp.
struct Fixup {
  std::uint32_t fragment = 0;         // instruction fragment or run holding the field
  std::uint32_t offset = 0;           // byte offset of the field in that fragment
  std::uint32_t text_start = 0;       // in the store's text pool
  std::uint16_t short_text_size = 0;  // kLongText: the size is kept in front of the text
  std::uint8_t width = 0;             // field width in bits
  FixupKind kind : 1 = FixupKind::symbol;
  // The field receives the target minus the address just behind the field.
  bool pc_relative : 1 = false;
  FixupRangePolicy range_policy : 2 = FixupRangePolicy::wrap;
  // A store turned the fixup's instruction into plain bytes; the fixup is
  // neither patched nor counted as pending.
  bool dropped : 1 = false;
  bool has_addend : 1 = false;  // kept in front of the text
  PointerWidth pointer_width : 2 = PointerWidth::bits64;

  static constexpr std::uint16_t kLongText = 0xffff;
};

// A module holds one per symbolic operand.
static_assert(sizeof(Fixup) == 16);

// Symbol when the text is a name: a letter, '_' or '.' first, then letters,
// digits, '$', '.' or '_'; otherwise an expression.
FixupKind classifyTargetText(std::string_view text) noexcept;

class FixupStore {
 public:
  // Appends a fixup with range policy wrap and returns its index; fails with
  // TooManyFixups when the index, or the texts kept so far, would not fit 32
  // bits, and with InvalidFixupWidth for a width above 255 bits, which no
  // field has. The target text is copied into the store.
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

  // The fixup's target as it was added; its text lives as long as the store.
  FixupTarget target(const Fixup& fixup) const noexcept;

 private:
  // The text's start in the pool, after the addend and long size the target
  // has.
  std::uint32_t appendText(const FixupTarget& target, bool long_text);

  // Blocks instead of one array: a growing list is never copied whole.
  std::deque<Fixup> fixups_;
  // Offsets instead of views keep the records small; the texts of all fixups
  // are a small part of the source, so one growing string holds them, each
  // after its fixup's addend and long size when it has them.
  std::string texts_;
  bool in_fragment_order_ = true;
  // Positions of all fixups ordered by fragment, while out of fragment order
  // and as many as the fixups when built.
  std::vector<std::uint32_t> by_fragment_;
};

}  // namespace frontend::fixup
