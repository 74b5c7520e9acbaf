#include "x86_encoder/encode_result.hpp"

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

qovrin::Status OwnedEncodeResult::append(const EncodeUnit& unit) {
  if (unit_count_ == kMaxUnits) return fail(Error::InstructionTooLong);
  std::uint64_t bytes = unit.byte_count;
  if (__builtin_add_overflow(bytes, unit.reserve_size, &bytes)) return fail(Error::OutputOverflow);
  QOVRIN_TRY(advance(bytes));
  newUnit() = unit;
  return {};
}

void OwnedEncodeResult::warn(std::string_view text) noexcept {
  for (std::size_t index = 0; index < warning_count_; ++index)
    if (warnings()[index] == text) return;
  if (warning_count_ < kMaxWarnings)
    std::construct_at(reinterpret_cast<std::string_view*>(warning_storage_) + warning_count_++, text);
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
