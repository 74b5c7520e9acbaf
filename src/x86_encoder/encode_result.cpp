#include "x86_encoder/encode_result.hpp"

#include <algorithm>

namespace x86_encoder::encode {

using qovrin::Error;
using qovrin::fail;

std::string_view unitKindLabel(UnitKind kind) noexcept {
  switch (kind) {
    case UnitKind::raw:
      return "raw";
    case UnitKind::rel:
      return "rel";
    case UnitKind::imm:
      return "imm";
    case UnitKind::farseg:
      return "farseg";
    case UnitKind::reserve:
      return "reserve";
  }
  return "raw";
}

qovrin::Status OwnedEncodeResult::advance(std::uint64_t bytes) noexcept {
  std::int64_t next_offset = 0;
  std::uint64_t next_emitted = 0;
  if (bytes > static_cast<std::uint64_t>(INT64_MAX) ||
      __builtin_add_overflow(offset, static_cast<std::int64_t>(bytes), &next_offset) ||
      __builtin_add_overflow(emitted, bytes, &next_emitted) || next_emitted > static_cast<std::uint64_t>(INT64_MAX))
    return fail(Error::OutputOverflow);
  offset = next_offset;
  emitted = next_emitted;
  return {};
}

qovrin::Status OwnedEncodeResult::append(const EncodeUnit& unit) {
  if (unit_count_ == kMaxUnits) return fail(Error::InstructionTooLong);
  std::uint64_t bytes = unit.byte_count;
  if (__builtin_add_overflow(bytes, unit.reserve_size, &bytes)) return fail(Error::OutputOverflow);
  QOVRIN_TRY(advance(bytes));
  units_[unit_count_++] = unit;
  return {};
}

// Raw units are most of every result, so they are written in place.
qovrin::Status OwnedEncodeResult::outRawdata(std::span<const std::uint8_t> bytes, std::string_view form,
                                             std::uint16_t tag) {
  if (bytes.size() > kMaxUnitBytes || unit_count_ == kMaxUnits) return fail(Error::InstructionTooLong);
  QOVRIN_TRY(advance(bytes.size()));
  EncodeUnit& unit = units_[unit_count_++];
  unit.kind = UnitKind::raw;
  unit.byte_count = static_cast<std::uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), unit.storage.begin());
  unit.value = 0;
  unit.base = 0;
  unit.segment = 0;
  unit.symbol = 0;
  unit.fixup = FixupKind::absolute;
  unit.width = 0;
  unit.check = kCheckGeneral;
  unit.has_fixup = false;
  unit.reserve_size = 0;
  unit.form = form;
  unit.tag = tag;
  return {};
}

void OwnedEncodeResult::warn(std::string_view text) noexcept {
  for (std::size_t index = 0; index < warning_count_; ++index)
    if (warnings_[index] == text) return;
  if (warning_count_ < kMaxWarnings) warnings_[warning_count_++] = text;
}

std::size_t OwnedEncodeResult::copyBytes(std::span<std::uint8_t> out) const noexcept {
  std::size_t written = 0;
  for (const EncodeUnit& unit : units())
    for (const std::uint8_t byte : unit.bytes()) {
      if (written == out.size()) return written;
      out[written++] = byte;
    }
  return written;
}

}  // namespace x86_encoder::encode
