#include "x86_encoder/tables.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>

#include "common/ascii.hpp"

namespace x86_encoder::tables {

namespace {

constexpr unsigned char lowerAscii(char c) noexcept { return static_cast<unsigned char>(qovrin::lowerAscii(c)); }

// Must agree with name_hash() in tools/gen_x86_tables.py, which placed the
// names into their slots. Setting bit 5 of every byte hashes both cases of a
// letter alike without a comparison; bytes it merges otherwise only share a
// probe path, and the comparison below tells them apart.
constexpr std::uint32_t nameHash(std::string_view text) noexcept {
  std::uint32_t hash = kNameHashBasis;
  for (char c : text) hash = (hash ^ (static_cast<unsigned char>(c) | 0x20u)) * kNameHashPrime;
  return hash ^ (hash >> 16);
}

// Table names are lower case already, so only the probe is folded.
constexpr bool equalsLowerName(std::string_view lower_name, std::string_view text) noexcept {
  if (lower_name.size() != text.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (static_cast<unsigned char>(lower_name[i]) != lowerAscii(text[i])) return false;
  return true;
}

// Slots hold row + 1 in insertion (row) order, so the first equal name on the
// probe path is the first equal row of the table.
template <std::size_t SlotCount, typename NameOf>
std::optional<std::size_t> probe(const std::array<std::uint16_t, SlotCount>& slots, std::string_view text,
                                 NameOf name_of) noexcept {
  static_assert((SlotCount & (SlotCount - 1)) == 0);
  std::size_t slot = nameHash(text) & (SlotCount - 1);
  for (std::size_t step = 0; step < SlotCount; ++step, slot = (slot + 1) & (SlotCount - 1)) {
    const std::uint16_t entry = slots[slot];
    if (entry == 0) return std::nullopt;
    if (equalsLowerName(name_of(entry - 1u), text)) return entry - 1u;
  }
  return std::nullopt;
}

constexpr std::size_t kShortMnemonicLength = 7;

// The key of a name of at most seven bytes: its lower-cased bytes
// little-endian, its length in the top byte. The bytes are lower-cased side
// by side, not one after another as a byte-serial hash would take them.
std::uint64_t lowerNameKey(std::string_view text) noexcept {
  std::uint64_t key = static_cast<std::uint64_t>(text.size()) << 56;
  for (std::size_t i = 0; i < text.size(); ++i) key |= std::uint64_t{lowerAscii(text[i])} << (8 * i);
  return key;
}

constexpr std::uint64_t keyOf(std::uint64_t key) noexcept { return key; }
constexpr std::uint64_t keyOf(const RegisterRow& row) noexcept { return row.key; }

// Row of the key among slots that hold row + 1 by the top bits of key times
// the generator's multiplier; rows equals the row count when none.
template <std::size_t SlotCount, typename Row, std::size_t RowCount>
std::size_t probeKey(const std::array<std::uint16_t, SlotCount>& slots, const std::array<Row, RowCount>& rows,
                     std::uint64_t key) noexcept {
  static_assert((SlotCount & (SlotCount - 1)) == 0);
  constexpr int kSlotBits = std::countr_zero(SlotCount);
  std::size_t slot = (key * kRegisterKeyMultiplier) >> (64 - kSlotBits);
  for (std::size_t step = 0; step < SlotCount; ++step, slot = (slot + 1) & (SlotCount - 1)) {
    const std::uint16_t entry = slots[slot];
    if (entry == 0) return RowCount;
    if (keyOf(rows[entry - 1u]) == key) return entry - 1u;
  }
  return RowCount;
}

}  // namespace

std::span<const RegisterRow> registers() noexcept { return x86_registers; }

const RegisterRow* findRegister(std::string_view text) noexcept {
  static_assert(kMaxRegisterNameLength < 8);
  if (text.empty() || text.size() > kMaxRegisterNameLength) return nullptr;
  return findRegisterByKey(lowerNameKey(text));
}

// Must agree with register_key() and register_key_slot() in
// tools/gen_x86_tables.py. A whole name in one word turns the probe's
// comparison into one integer test.
const RegisterRow* findRegisterByKey(std::uint64_t key) noexcept {
  const std::size_t row = probeKey(x86_register_key_slots, x86_registers, key);
  return row < kRegisterCount ? &x86_registers[row] : nullptr;
}

std::span<const OperandQualifier> operandQualifiers() noexcept { return x86_operand_qualifiers; }

std::uint32_t mnemonicRow(std::string_view text) noexcept {
  if (text.empty() || text.size() > kMaxMnemonicLength) return kMnemonicCount;
  // Short names, nearly all a program uses, skip the byte-serial name hash
  // (x86_lookup_bench shows it; no figure was recorded).
  if (text.size() <= kShortMnemonicLength)
    return static_cast<std::uint32_t>(probeKey(x86_mnemonic_key_slots, x86_mnemonic_keys, lowerNameKey(text)));
  const auto row = probe(x86_mnemonic_hash_slots, text, [](std::size_t r) { return x86_mnemonic_names[r]; });
  return row ? static_cast<std::uint32_t>(*row) : kMnemonicCount;
}

std::optional<std::span<const std::uint8_t>> shapeCandidates(std::uint32_t opcode, std::uint16_t key) noexcept {
  if (opcode >= kMnemonicCount) return std::nullopt;
  const ShapeGroupRange range = x86_shape_group_ranges[opcode];
  if (range.count == 0) return std::nullopt;
  const auto groups = std::span(x86_shape_groups).subspan(range.first, range.count);
  const auto group = std::lower_bound(groups.begin(), groups.end(), key,
                                      [](const ShapeGroup& entry, std::uint16_t wanted) { return entry.key < wanted; });
  // Every key of an indexed mnemonic was tried when the tables were built:
  // a missing one has no candidate.
  if (group == groups.end() || group->key != key) return std::span<const std::uint8_t>{};
  return std::span(x86_shape_positions).subspan(group->first, group->count);
}

}  // namespace x86_encoder::tables
