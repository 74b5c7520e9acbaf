#include "frontend/module/fragment.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

using frontend::SourceLocation;
using frontend::fragment::Alignment;
using frontend::fragment::Bytes;
using frontend::fragment::Fragment;
using frontend::fragment::FragmentKind;
using frontend::fragment::Instruction;
using frontend::fragment::Reserve;
using frontend::fragment::SmallBytes;

const SourceLocation kWhere{{2, 10, 20}, 7};
const std::vector<std::uint8_t> kLong(40, 0x5A);  // past the inline limit: owned on the heap

Fragment instructionWith(std::span<const std::uint8_t> encoded) {
  Instruction line;
  line.setText("OpNop");
  line.encoded = SmallBytes(encoded);
  line.pending = true;
  return Fragment(std::move(line), 3, kWhere);
}

// What a fragment holds, read through its accessors.
struct Seen {
  FragmentKind kind;
  std::vector<std::uint8_t> stored;
  std::uint64_t number;  // reserve size or alignment
  friend bool operator==(const Seen&, const Seen&) = default;
};

Seen seen(const Fragment& piece) {
  Seen out{piece.kind(), {}, 0};
  if (const auto* stored = piece.storedBytes()) out.stored.assign(stored->begin(), stored->end());
  if (const auto* space = piece.reserve()) out.number = space->size;
  if (const auto* padding = piece.alignment()) out.number = padding->alignment;
  return out;
}

// Every kind survives copies, moves and assignments over every other kind,
// with its section and location; heap contents are owned once (the
// sanitizer build checks the releases).
TEST(Fragment, KeepsEachKindThroughCopiesMovesAndAssignments) {
  const std::vector<Fragment> made = {
      Fragment(Bytes{SmallBytes(kLong)}, 3, kWhere), Fragment(Bytes{{1, 2}}, 3, kWhere),
      Fragment(Reserve{9, 4}, 3, kWhere),             Fragment(Alignment{16, 0xCC}, 3, kWhere),
      instructionWith(kLong),                         instructionWith(std::vector<std::uint8_t>{0x90}),
  };
  for (const Fragment& original : made) {
    const Seen want = seen(original);
    Fragment copy(original);
    EXPECT_EQ(seen(copy), want);
    Fragment moved(std::move(copy));
    EXPECT_EQ(seen(moved), want);
    EXPECT_EQ(moved.location(), kWhere);
    EXPECT_EQ(moved.section, 3u);
    for (const Fragment& other : made) {
      Fragment target(other);
      target = original;
      EXPECT_EQ(seen(target), want);
      Fragment moved_into(other);
      moved_into = Fragment(original);
      EXPECT_EQ(seen(moved_into), want);
    }
  }
  const Fragment& line = made[4];
  ASSERT_NE(line.instruction(), nullptr);
  EXPECT_EQ(line.instruction()->text(), "OpNop");
  EXPECT_TRUE(line.instruction()->pending);
}

// A store turns an instruction into bytes made from its own encoding.
TEST(Fragment, BecomesBytesFromItsOwnEncoding) {
  for (const auto& encoding : {kLong, std::vector<std::uint8_t>{1, 2, 3}}) {
    Fragment piece = instructionWith(encoding);
    piece.becomeBytes(std::move(piece.instruction()->encoded));
    EXPECT_EQ(seen(piece), (Seen{FragmentKind::bytes, encoding, 0}));
    EXPECT_EQ(piece.instruction(), nullptr);
  }
}

}  // namespace
