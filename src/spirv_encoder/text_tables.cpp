#include "spirv_encoder/text_tables.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

namespace spirv_encoder::text_tables {
namespace {

constexpr std::uint32_t hashByte(std::uint32_t value, std::uint8_t byte) noexcept {
  return (value ^ byte) * kNameHashPrime;
}

// Must agree with name_hash in tools/gen_spirv_tables.py.
constexpr std::uint32_t nameHash(std::uint16_t key, std::string_view name) noexcept {
  std::uint32_t value =
      hashByte(hashByte(kNameHashBasis, static_cast<std::uint8_t>(key & 0xFF)), static_cast<std::uint8_t>(key >> 8));
  for (const char c : name) value = hashByte(value, static_cast<std::uint8_t>(c));
  return value ^ (value >> 16);
}

// Probes the slots from the name's hash until an empty slot; rows went in
// in table order, so the first row that matches is the first in the table.
// The rows come as a span: g++ 12 folds the probes of two equally typed
// tables of different lengths into one and then takes the shorter table for
// the longer one's array type.
template <std::size_t Slots, typename Row, typename Matches>
const Row* probe(const std::array<std::uint16_t, Slots>& slots, std::span<const Row> rows, std::uint16_t key,
                 std::string_view name, Matches matches) noexcept {
  static_assert((Slots & (Slots - 1)) == 0);
  for (std::size_t slot = nameHash(key, name) & (Slots - 1);; slot = (slot + 1) & (Slots - 1)) {
    const std::uint16_t entry = slots[slot];
    if (entry == 0) return nullptr;
    const Row& row = rows[entry - 1u];
    if (row.name == name && matches(entry - 1u)) return &row;
  }
}

constexpr auto kAnyRow = [](std::size_t) noexcept { return true; };

}  // namespace

const InstructionRow* findInstruction(std::string_view name) noexcept {
  return probe(spirv_instruction_hash_slots, std::span<const InstructionRow>(spirv_instructions), 0, name, kAnyRow);
}

const InstructionRow* findSpecConstantOp(std::string_view name) noexcept {
  return probe(spirv_spec_constant_op_hash_slots, std::span<const InstructionRow>(spirv_spec_constant_ops), 0, name, kAnyRow);
}

const InstructionRow* findExtInst(ExtInstSet set, std::string_view name) noexcept {
  const auto number = static_cast<std::uint16_t>(set);
  if (number >= kExtInstSetCount) return nullptr;
  const RowSpan range = spirv_ext_inst_ranges[number];
  return probe(spirv_ext_inst_hash_slots, std::span<const InstructionRow>(spirv_ext_insts), number, name,
               [range](std::size_t row) noexcept { return row >= range.first && row - range.first < range.count; });
}

std::optional<ExtInstSet> findExtInstSet(std::string_view name) noexcept {
  for (const ExtInstSetName& entry : spirv_ext_inst_set_names)
    if (entry.name == name) return entry.set;
  return std::nullopt;
}

const EnumerantRow* lookupEnumerant(std::uint16_t kind, std::string_view name) noexcept {
  return probe(spirv_enumerant_hash_slots, std::span<const EnumerantRow>(spirv_enumerants), kind, name,
               [kind](std::size_t row) noexcept { return spirv_enumerants[row].kind == kind; });
}

const EnumerantRow* enumerantByValue(std::uint16_t kind, std::uint32_t value) noexcept {
  const auto* row = std::partition_point(
      spirv_enumerants.begin(), spirv_enumerants.end(), [kind, value](const EnumerantRow& candidate) noexcept {
        return candidate.kind < kind || (candidate.kind == kind && candidate.value < value);
      });
  return row != spirv_enumerants.end() && row->kind == kind && row->value == value ? row : nullptr;
}

}  // namespace spirv_encoder::text_tables
