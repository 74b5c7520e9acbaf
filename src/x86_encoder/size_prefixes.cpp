#include "x86_encoder/size_prefixes.hpp"

#include <bit>

#include "x86_encoder/types.hpp"

namespace x86_encoder::size {

using namespace api;
using qovrin::Error;
using qovrin::fail;
using tables::Iflag;
using tables::TemplateRef;

void count(const X86SizeContext& context, PrefixCounter counter) noexcept {
  if (context.counters == nullptr) return;
  std::uint8_t& value = (*context.counters)[static_cast<std::size_t>(counter)];
  if (value != UINT8_MAX) ++value;
}

SlotByte slotByte(std::uint32_t code, std::int16_t forced, std::uint8_t mode_bits) noexcept {
  SlotByte slot{types::prefixByte(code, mode_bits), false};
  if (forced == 0) return slot;
  // Where the opcode fixes the F2 or F3 (or that there is none), a repeat
  // word can only change it or vanish into it.
  const bool repeat_word =
      (code >= kPrefixRep && code <= kPrefixRepz) || (code >= kPrefixXacquire && code <= kPrefixNobnd);
  slot.conflict = repeat_word;
  if (repeat_word || forced == slot.byte || (!types::isPrefixByte(forced) && !types::isPrefixByte(slot.byte)))
    return slot;
  const bool size_choice =
      code == 0 || (code >= kPrefixA16 && code <= kPrefixA64) || (code >= kPrefixO16 && code <= kPrefixO64);
  if (size_choice)
    slot.byte = forced;
  else
    slot.conflict = true;
  return slot;
}

namespace {

std::uint32_t vectorFifthBits(std::uint32_t rex) noexcept {
  return ((rex & kRexVectorFifth) >> 4) & rex & kRexFifthBits;
}

bool isMemory(const X86Operand& operand) noexcept { return operand.kind == OperandKind::memory; }

}  // namespace

qovrin::Status settleRexAndSelector(X86Instruction& ins) {
  if (ins.rex & kRexNoHighByte) {
    if (ins.rex & kRexHighByte) return fail(Error::HighRegisterNotAllowed);
    ins.rex &= ~(kRexRequired | kRexHighByte);
  }
  if (ins.prefix(PrefixSlot::operand_size) == kPrefixO64 && !(ins.rex & kRexSize64NoW)) ins.rex |= kRexW;
  switch (ins.prefix(PrefixSlot::encoding)) {
    case kSelectRex:
      if (ins.mode_bits != 64) return fail(Error::InvalidAddressSize);
      if (ins.rex & (kRexVex | kRexEvex | kRexRex2)) return fail(Error::InvalidPrefixEncoding);
      ins.rex |= kRexRequired;
      break;
    case kSelectRex2:
      if (ins.mode_bits != 64) return fail(Error::InvalidAddressSize);
      if ((ins.rex & (kRexVex | kRexEvex)) || vectorFifthBits(ins.rex) != 0) return fail(Error::InvalidPrefixEncoding);
      ins.rex |= kRexRex2 | kRexRequired;
      break;
    case kSelectEvex:
      if (!(ins.rex & kRexEvex)) return fail(Error::InvalidPrefixEncoding);
      break;
    case kSelectVex:
    case kSelectVex3:
    case kSelectVex2:
      if (!(ins.rex & kRexVex)) return fail(Error::InvalidPrefixEncoding);
      break;
    default:
      break;
  }
  return {};
}

// REX, REX2, VEX or EVEX bytes and the map escapes that go with them.
qovrin::Result<std::int64_t> encodingPrefixLength(X86Instruction& ins, TemplateRef chosen,
                                                  const X86SizeContext& context) {
  const std::uint32_t encoding = ins.prefix(PrefixSlot::encoding);
  if (ins.rex & (kRexVex | kRexEvex)) {
    if (ins.rex & kRexHighByte) return fail(Error::HighRegisterNotAllowed);
    const bool w_as_rex = chosen.iflagTest(Iflag::kWw);
    if (!w_as_rex) {
      ins.rex &= ~(kRexW | kRexHighByte);
      if (ins.vex_params & 0x80) ins.rex |= kRexW;
    }
    const std::uint32_t invalid_outside_64 = w_as_rex ? 0x700F : 0x7007;
    if (ins.mode_bits != 64 && ((ins.rex & invalid_outside_64) || ins.v_register > 7))
      return fail(Error::InvalidOperandSize);
    if (ins.rex & kRexEvex) return 4;
    if ((ins.rex & kRexFifthBits) || ins.v_register > 15) return fail(Error::InvalidOperandSize);
    if (ins.map == 1 && encoding != kSelectVex3 && !(ins.rex & (kRexW | kRexX | kRexB))) return 2;
    if (encoding == kSelectVex2) return fail(Error::InvalidPrefixEncoding);
    return 3;
  }
  const std::int64_t escapes = ins.map == 0 ? 0 : (ins.map == 1 ? 1 : 2);
  if (ins.rex & (kRexRex2 | kRexFifthBits)) {
    if (ins.mode_bits != 64) return fail(Error::InvalidOperandSize);
    if (!context.present) return fail(Error::NeedsCpuFeatureContext);
    if (!context.rex2_allowed) return fail(Error::InvalidOperandSize);
    if (chosen.iflagTest(Iflag::kNoapx) || vectorFifthBits(ins.rex) != 0) return fail(Error::InvalidOperandSize);
    if (ins.rex & kRexHighByte) return fail(Error::HighRegisterNotAllowed);
    ins.rex |= kRexRex2 | kRexRequired;
    return 2;
  }
  constexpr std::uint32_t kCleared = kRexLockAsR | kRexHighByte | kRexVex | kRexEvex | kRexRex2 | kRexFifthBits;
  if (ins.rex & (kRexB | kRexX | kRexR | kRexW | kRexRequired)) {
    if (ins.rex & kRexHighByte) return fail(Error::HighRegisterNotAllowed);
    if (ins.mode_bits == 64) {
      ins.rex = (ins.rex | kRexRequired) & ~kCleared;
      return 1 + escapes;
    }
    if ((ins.rex & 0x2F) != (kRexR | kRexLockAsR)) return fail(Error::InvalidOperandSize);
    if (!context.present) return fail(Error::NeedsCpuFeatureContext);
    if (!context.long_mode_cpu) return fail(Error::InvalidOperandSize);
    if (ins.prefix(PrefixSlot::lock) != 0) return fail(Error::InvalidPrefixEncoding);
    ins.rex &= ~(kRexB | kRexX | kRexW | kRexRequired | kRexHighByte | kRexVex | kRexEvex | kRexRex2 | kRexFifthBits);
    return 1 + escapes;
  }
  return escapes;
}

void checkPrefixUse(X86Instruction& ins, TemplateRef chosen, const X86SizeContext& context,
                    std::uint8_t lock_class) noexcept {
  const bool lock_as_r = (ins.rex & 0x2F) == (kRexR | kRexLockAsR) && ins.mode_bits != 64;
  const bool first_memory = ins.operand_count > 0 && isMemory(ins.operands[0]);
  if (ins.prefix(PrefixSlot::lock) == kPrefixLock && !lock_as_r) {
    const bool lockable =
        (first_memory && chosen.iflagTest(Iflag::kLock)) ||
        (tables::kLock1IflagRows.contains(chosen.row().iflags) && ins.operand_count > 1 && isMemory(ins.operands[1]));
    if (!lockable)
      count(context, PrefixCounter::lock_not_lockable);
    else if (ins.opcode == tables::kMnemonicXchg)
      count(context, PrefixCounter::lock_xchg);
  }
  const std::uint32_t rep = ins.prefix(PrefixSlot::rep);
  if (rep == kPrefixXacquire || rep == kPrefixXrelease) {
    // 0 valid, 1 needs LOCK, 2 invalid; by lock-elision class 0-3.
    static constexpr std::uint8_t kAcquire[] = {2, 2, 0, 1};
    static constexpr std::uint8_t kRelease[] = {2, 0, 0, 1};
    const std::uint8_t verdict = first_memory ? (rep == kPrefixXacquire ? kAcquire : kRelease)[lock_class & 3] : 2;
    if (verdict == 1 && ins.prefix(PrefixSlot::lock) != kPrefixLock) count(context, PrefixCounter::elision_needs_lock);
    if (verdict == 2) count(context, PrefixCounter::elision_invalid);
  }
  if (context.bnd_by_default && chosen.iflagTest(Iflag::kBnd) && ins.prefix(PrefixSlot::rep) != kPrefixNobnd)
    ins.prefix(PrefixSlot::rep) = kPrefixBnd;
  const std::uint32_t hint = ins.prefix(PrefixSlot::segment);
  if ((hint == kHintTaken || hint == kHintNotTaken) && !tables::kJccHintIflagRows.contains(chosen.row().iflags)) {
    ins.prefix(PrefixSlot::segment) = 0;
    count(context, PrefixCounter::hint_removed);
  }
}

qovrin::Result<std::int64_t> legacyPrefixLength(X86Instruction& ins) {
  ins.legacy_count = 0;
  const bool vex_like = (ins.rex & (kRexVex | kRexEvex)) != 0;
  for (std::uint32_t occupied = occupiedSlots(ins); occupied != 0; occupied &= occupied - 1) {
    const auto index = static_cast<std::size_t>(std::countr_zero(occupied));
    const std::uint32_t code = ins.prefixes[index];
    const SlotByte slot = slotByte(code, ins.forced[index], ins.mode_bits);
    // The word would replace or repeat the F2, F3 or 66 that the opcode
    // carries, or add one where the opcode takes none.
    if (slot.conflict) return fail(Error::UnsupportedPrefixes);
    const std::int32_t byte = slot.byte;
    if (byte == types::kNoPrefixByte || byte == types::kEncodingChoice) continue;
    if (byte == types::kNotAPrefix) return fail(Error::NeedsPrefixEmitter);
    if (byte == types::kInvalidInMode) return fail(types::invalidInModeError(code));
    if (byte > 0xFF) return fail(Error::InvalidPrefixEncoding);
    if (vex_like && (byte == 0xF2 || byte == 0xF3 || byte == 0x66)) {
      // VEX and EVEX carry a size or mandatory prefix in their own pp bits,
      // but have no room for a repeat word, and a legacy F2 or F3 in front
      // of them faults.
      if (index == static_cast<std::size_t>(PrefixSlot::rep)) return fail(Error::UnsupportedPrefixes);
      continue;
    }
    ins.legacy_bytes[ins.legacy_count++] = static_cast<std::uint8_t>(byte);
  }
  return ins.legacy_count;
}

}  // namespace x86_encoder::size
