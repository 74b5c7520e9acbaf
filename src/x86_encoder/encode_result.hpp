#pragma once
// What one encoded instruction hands back: its bytes as an ordered list of
// units, each either final bytes or a placeholder that carries what the
// patcher needs (value, base, segment, symbol, width, fixup kind), and the
// warnings raised while encoding. Units keep their few bytes inline and the
// lists have fixed room, so encoding allocates nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <type_traits>

#include "common/error.hpp"

namespace x86_encoder::encode {

inline constexpr std::uint32_t kNoId = ~0u;
inline constexpr std::uint8_t kNoOperand = 0xFF;

enum class UnitKind : std::uint8_t { raw, rel, imm, farseg, reserve };

std::string_view unitKindLabel(UnitKind kind) noexcept;

enum class FixupKind : std::uint8_t { absolute = 0, relative = 1, segment = 2 };

// Range check of a field: 0 general, 1 signed, 2 unsigned, 4 or 5 none.
inline constexpr std::uint8_t kCheckGeneral = 0;
inline constexpr std::uint8_t kCheckSigned = 1;
inline constexpr std::uint8_t kCheckUnsigned = 2;
inline constexpr std::uint8_t kCheckNone = 4;
inline constexpr std::uint8_t kCheckDisplacement = 5;

inline constexpr std::size_t kMaxUnitBytes = 9;

struct EncodeUnit {
  UnitKind kind = UnitKind::raw;
  std::uint8_t byte_count = 0;
  std::array<std::uint8_t, kMaxUnitBytes> storage{};
  std::int64_t value = 0;
  std::int64_t base = 0;
  std::uint32_t segment = 0;
  std::uint32_t symbol = 0;
  FixupKind fixup = FixupKind::absolute;
  std::uint8_t width = 0;
  std::uint8_t check = kCheckGeneral;
  bool has_fixup = false;
  // A field's operand, and whether the resolver recorded a fact for its
  // value: fields come in the order the template writes them, facts in the
  // order the operands were read.
  std::uint8_t operand = kNoOperand;
  bool symbolic = false;
  std::uint64_t reserve_size = 0;
  std::string_view form;
  std::uint16_t tag = 0;

  std::span<const std::uint8_t> bytes() const noexcept { return std::span(storage).first(byte_count); }
};

// Results keep their units in raw storage and never destroy them.
static_assert(std::is_trivially_destructible_v<EncodeUnit>);

// Room for the longest template program plus the prefix and REX units.
inline constexpr std::size_t kMaxUnits = 20;
inline constexpr std::size_t kMaxWarnings = 8;

class OwnedEncodeResult {
 public:
  OwnedEncodeResult() noexcept {}
  // Units past the count are raw storage, so a result is never copied.
  OwnedEncodeResult(const OwnedEncodeResult&) = delete;
  OwnedEncodeResult& operator=(const OwnedEncodeResult&) = delete;

  std::int64_t offset = 0;
  std::uint32_t segment = kNoId;
  std::uint64_t instruction_size = 0;
  std::uint64_t emitted = 0;
  std::uint64_t template_index = 0;
  bool template_used = false;
  std::uint8_t mode_bits = 0;
  std::uint8_t operand_bits = 0;  // as sizing left it: a branch's instruction pointer has this width
  // The first immediate that warned it exceeds bounds, for a note that says
  // what was written instead; width 0 when none did.
  struct Bounds {
    std::string_view warning;  // the warning it raised, with static lifetime
    std::int64_t value = 0;
    std::uint8_t width = 0;  // bytes
  } bounds;

  std::span<const EncodeUnit> units() const noexcept { return {unitAt(0), unit_count_}; }
  std::span<const std::string_view> warnings() const noexcept {
    return {std::launder(reinterpret_cast<const std::string_view*>(warning_storage_)), warning_count_};
  }

  // Appends a "raw" unit holding a copy of bytes and advances offset and
  // emitted by their count.
  qovrin::Status outRawdata(std::span<const std::uint8_t> bytes, std::string_view form, std::uint16_t tag);

  // Appends a unit built by the caller; offset and emitted advance by its
  // byte count plus its reserve size.
  qovrin::Status append(const EncodeUnit& unit);

  // A warning text with static lifetime; one text is listed once.
  void warn(std::string_view text) noexcept;

  // The bytes of every unit in order, placeholders as their zero bytes.
  std::size_t copyBytes(std::span<std::uint8_t> out) const noexcept;

  // Leaves the result empty; harmless on an empty result.
  void deinit() noexcept {
    offset = 0;
    segment = kNoId;
    instruction_size = 0;
    emitted = 0;
    template_index = 0;
    bounds = {};
    template_used = false;
    mode_bits = 0;
    operand_bits = 0;
    unit_count_ = 0;
    warning_count_ = 0;
  }

 private:
  qovrin::Status advance(std::uint64_t bytes) noexcept;
  // The next unit, made in place; only units below the count exist.
  EncodeUnit& newUnit() noexcept {
    return *std::construct_at(reinterpret_cast<EncodeUnit*>(unit_storage_) + unit_count_++);
  }
  const EncodeUnit* unitAt(std::size_t index) const noexcept {
    return std::launder(reinterpret_cast<const EncodeUnit*>(unit_storage_)) + index;
  }

  // One result is made per encoded instruction: clearing room for every
  // possible unit up front would cost more than the encoding's own writes.
  alignas(EncodeUnit) std::byte unit_storage_[kMaxUnits * sizeof(EncodeUnit)];
  alignas(std::string_view) std::byte warning_storage_[kMaxWarnings * sizeof(std::string_view)];
  std::uint8_t unit_count_ = 0;
  std::uint8_t warning_count_ = 0;
};

inline qovrin::Status OwnedEncodeResult::advance(std::uint64_t bytes) noexcept {
  std::int64_t next_offset = 0;
  std::uint64_t next_emitted = 0;
  if (bytes > static_cast<std::uint64_t>(INT64_MAX) ||
      __builtin_add_overflow(offset, static_cast<std::int64_t>(bytes), &next_offset) ||
      __builtin_add_overflow(emitted, bytes, &next_emitted) || next_emitted > static_cast<std::uint64_t>(INT64_MAX))
    return qovrin::fail(qovrin::Error::OutputOverflow);
  offset = next_offset;
  emitted = next_emitted;
  return {};
}

// Raw units are most of every result, so they are written in place, and
// inline, where the caller's form and tag are constants.
inline qovrin::Status OwnedEncodeResult::outRawdata(std::span<const std::uint8_t> bytes, std::string_view form,
                                                    std::uint16_t tag) {
  if (bytes.size() > kMaxUnitBytes || unit_count_ == kMaxUnits) return qovrin::fail(qovrin::Error::InstructionTooLong);
  QOVRIN_TRY(advance(bytes.size()));
  EncodeUnit& unit = newUnit();
  unit.kind = UnitKind::raw;
  unit.byte_count = static_cast<std::uint8_t>(bytes.size());
  // At most nine bytes: a loop stays inline where std::copy calls memmove.
  for (std::size_t index = 0; index < bytes.size(); ++index) unit.storage[index] = bytes[index];
  unit.value = 0;
  unit.base = 0;
  unit.segment = 0;
  unit.symbol = 0;
  unit.fixup = FixupKind::absolute;
  unit.width = 0;
  unit.check = kCheckGeneral;
  unit.has_fixup = false;
  unit.operand = kNoOperand;
  unit.symbolic = false;
  unit.reserve_size = 0;
  unit.form = form;
  unit.tag = tag;
  return {};
}

}  // namespace x86_encoder::encode
