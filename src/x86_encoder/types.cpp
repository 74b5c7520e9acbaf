#include "x86_encoder/types.hpp"

#include "x86_encoder/instruction.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::types {

using namespace api;

std::int32_t prefixByte(std::uint32_t code, std::uint8_t mode_bits) noexcept {
  switch (code) {
    case 0:
    case kPrefixNobnd:
    case kMarker370:
    case kMarker371:
      return kNoPrefixByte;
    case kHintNotTaken:
      return 0x2E;
    case kHintTaken:
      return 0x3E;
    case kPrefixA16:
      if (mode_bits == 32) return 0x67;
      return mode_bits == 16 ? kNoPrefixByte : kInvalidInMode;
    case kPrefixA32:
      return mode_bits == 32 ? kNoPrefixByte : 0x67;
    case kPrefixA64:
    case kPrefixO64:
      return mode_bits == 64 ? kNoPrefixByte : kInvalidInMode;
    case kPrefixAsp:
      return 0x67;
    case kPrefixLock:
      return 0xF0;
    case kPrefixO16:
      return mode_bits == 16 ? kNoPrefixByte : 0x66;
    case kPrefixO32:
      return mode_bits == 16 ? 0x66 : kNoPrefixByte;
    case kPrefixOsp:
      return 0x66;
    case kPrefixRep:
    case kPrefixRepe:
    case kPrefixRepz:
    case kPrefixXrelease:
      return 0xF3;
    case kPrefixRepne:
    case kPrefixRepnz:
    case kPrefixXacquire:
    case kPrefixBnd:
      return 0xF2;
    case kPrefixWait:
      return 0x9B;
    default:
      break;
  }
  if (code >= kSelectRex && code <= kSelectVex2) return kEncodingChoice;
  switch (static_cast<std::int32_t>(code)) {
    case tables::kRegisterIdCs:
      return 0x2E;
    case tables::kRegisterIdDs:
      return 0x3E;
    case tables::kRegisterIdEs:
      return 0x26;
    case tables::kRegisterIdFs:
      return 0x64;
    case tables::kRegisterIdGs:
      return 0x65;
    case tables::kRegisterIdSs:
      return 0x36;
    default:
      return kNotAPrefix;
  }
}

qovrin::Error invalidInModeError(std::uint32_t code) noexcept {
  if (code == kPrefixA16 || code == kPrefixA64) return qovrin::Error::InvalidAddressSize;
  if (code == kPrefixO64) return qovrin::Error::InvalidOperandSize;
  return qovrin::Error::InvalidPrefixEncoding;
}

}  // namespace x86_encoder::types
