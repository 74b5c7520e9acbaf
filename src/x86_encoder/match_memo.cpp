#include "x86_encoder/match_memo.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "x86_encoder/match.hpp"

namespace x86_encoder::match {

using namespace api;

namespace {

// Operand slots past the count take their words from an empty operand, whose
// words are zero: every slot is read the same way, with no branch on the count
// and no store of a word at a position that is known only at run time, which
// the hash and the comparison would have to wait for.
MemoKey keyOf(const X86Instruction& ins) noexcept {
  static constexpr X86Operand kAbsent{};
  MemoKey key;
  key.words[0] = ins.opcode | (std::uint64_t{ins.operand_count} << 16) | (std::uint64_t{ins.option_flags} << 24) |
                 (std::uint64_t{ins.mode_bits} << 32) | (std::uint64_t{ins.operand_bits} << 40) |
                 (std::uint64_t{ins.address_bits} << 48);
  static_assert(kSelectVex2 < (1u << 16) && kPrefixNobnd < (1u << 16) && kMarker371 < (1u << 16));
  key.words[1] = ins.prefix(PrefixSlot::encoding) | (std::uint64_t{ins.prefix(PrefixSlot::rep)} << 16) |
                 (std::uint64_t{ins.prefix(PrefixSlot::marker_370)} << 32) |
                 (std::uint64_t{ins.prefix(PrefixSlot::marker_371)} << 48);
  for (unsigned i = 0; i < kMaxOperands; ++i) {
    const X86Operand& operand = i < ins.operand_count ? ins.operands[i] : kAbsent;
    const std::uint64_t registers =
        (operand.base != kNone ? 1u : 0u) | (operand.index != kNone && operand.scale != 0 ? 2u : 0u);
    key.words[kMemoHeadWords + 2 * i] = operand.flags;
    key.words[kMemoHeadWords + 2 * i + 1] = operand.required_iflag | (std::uint64_t{operand.decorators} << 32) |
                                            (std::uint64_t{static_cast<std::uint8_t>(operand.kind)} << 48) |
                                            (registers << 56);
  }
  return key;
}

// A multilinear hash: each word times its own odd constant, summed, so that
// the products are made side by side instead of each waiting for the one
// before; the top bits of the sum pick the slot. x86_encode_bench's
// remembered mix shows it; no figure was recorded.
constexpr std::array<std::uint64_t, kMemoKeyWords> kWordFactors{
    0x27ae6b1ff4bdb52bull, 0x1a23b247c9cf23f5ull, 0x24919a8d2502f9cbull,
    0x54296609a57d26a5ull, 0x4ca564d74f811c2dull, 0x065e28e21576139bull, 0x9b73968414d2647full,
    0xceb11b9097af9811ull, 0xf9b424d451a160e1ull, 0xfd6ac13ea4397a6bull, 0x897b5a9b25c74c21ull,
    0xe057829c89692083ull};

std::size_t slotOf(const MemoKey& key) noexcept {
  std::uint64_t hash = 0;
  for (std::size_t i = 0; i < kMemoKeyWords; ++i) hash += key.words[i] * kWordFactors[i];
  static_assert((MatchMemo::kSlots & (MatchMemo::kSlots - 1)) == 0);
  return static_cast<std::size_t>(hash >> (64 - std::countr_zero(MatchMemo::kSlots)));
}

bool holds(const MemoEntry& entry, const MemoKey& key) noexcept {
  std::uint64_t differ = 0;
  for (std::size_t i = 0; i < kMemoKeyWords; ++i) differ |= entry.key[i] ^ key.words[i];
  return differ == 0;
}

}  // namespace

std::uint32_t findMatchRemembered(X86Instruction& ins, MatchMemo& memo) {
  const MemoKey key = keyOf(ins);
  MemoEntry& entry = memo.entries[slotOf(key)];
  if (holds(entry, key)) {
    for (unsigned i = 0; i < ins.operand_count; ++i)
      if (const std::uint8_t bit = entry.added_size_bit[i]; bit != 0)
        ins.operands[i].flags |= std::uint64_t{1} << (bit - 1);
    ins.template_index = entry.template_index;
    ins.template_position = entry.template_position;
    ins.template_present = true;
    ins.remembered_program = std::span(entry.program).first(entry.program_length);
    return kMatchGood;
  }
  const std::uint32_t grade = findMatch(ins);
  if (grade < kMatchSuccess || !ins.template_present || hasRelaxableJump(ins.opcode)) return grade;
  std::array<std::uint8_t, kMaxOperands> added{};
  for (unsigned i = 0; i < ins.operand_count; ++i) {
    // A search only ever sets bits in a class word, so the difference is
    // what it added. More than one new bit cannot be kept; such a search is
    // not remembered.
    const std::uint64_t bits = ins.operands[i].flags ^ key.words[kMemoHeadWords + 2 * i];
    if ((bits & (bits - 1)) != 0) return grade;
    added[i] = bits == 0 ? 0 : static_cast<std::uint8_t>(std::countr_zero(bits) + 1);
  }
  const std::span<const std::uint8_t> program = tables::TemplateRef{ins.template_index}.program();
  entry.key = key.words;
  entry.added_size_bit = added;
  // A longer program than the room (none is) is read from the pool.
  entry.program_length = program.size() <= entry.program.size() ? static_cast<std::uint8_t>(program.size()) : 0;
  std::copy_n(program.begin(), entry.program_length, entry.program.begin());
  entry.template_index = ins.template_index;
  entry.template_position = ins.template_position;
  return grade;
}

}  // namespace x86_encoder::match
