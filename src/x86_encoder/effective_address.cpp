#include "x86_encoder/effective_address.hpp"

#include <bit>
#include <utility>

#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/regs.hpp"

namespace x86_encoder::ea {

using namespace api;

namespace {

// Bytes N of an EVEX compressed displacement by tuple type. Codes 17 to 19
// are the full, half and quarter vectors of 16-bit elements, whose
// broadcast reads two bytes where W would say four.
unsigned disp8Scale(const X86Instruction& instruction) noexcept {
  const bool w = (instruction.evex >> 23) & 1;
  const unsigned ll = (instruction.evex >> 29) & 3;
  const bool b = (instruction.evex >> 28) & 1;
  switch (instruction.tuple) {
    case 1:
      return b ? (w ? 8 : 4) : 16u << ll;
    case 2:
      return b ? (w ? 8 : 4) : 8u << ll;
    case 3:
      return 16u << ll;
    case 5:
      return 2;
    case 6:
      return w ? 8 : 4;
    case 7:
      return 4;
    case 8:
      return 8;
    case 9:
      return w ? 16 : 8;
    case 10:
      return w ? 32 : 16;
    case 11:
      return w ? 64 : 32;
    case 12:
      return 8u << ll;
    case 13:
      return 4u << ll;
    case 14:
      return 2u << ll;
    case 15:
      return 16;
    case 16:
      return ll == 0 ? 8 : (ll == 1 ? 32 : 64);
    case 17:
      return b ? 2 : 16u << ll;
    case 18:
      return b ? 2 : 8u << ll;
    case 19:
      return b ? 2 : 4u << ll;
    default:
      return 1;
  }
}

std::int64_t truncateToAddress(std::int64_t value, unsigned address_bits) noexcept {
  if (address_bits == 16) return static_cast<std::int16_t>(value);
  if (address_bits == 32) return static_cast<std::int32_t>(value);
  return value;
}

}  // namespace

std::uint8_t memoryMod(std::uint32_t ea_flags, X86Instruction& instruction, std::int64_t displacement,
                       bool plain_number, bool mod0_allowed) noexcept {
  if (ea_flags & kEaFullDisplacement) return 2;
  const unsigned shift = static_cast<unsigned>(std::countr_zero(disp8Scale(instruction)));
  instruction.ea.disp8_shift = static_cast<std::uint8_t>(shift);
  if (!plain_number) {
    instruction.ea.compressed_displacement = 0;
    instruction.ea.disp8_fits = false;
    return (ea_flags & kEaByteDisplacement) ? 1 : 2;
  }
  const std::int64_t wrapped = truncateToAddress(displacement, instruction.address_bits);
  const std::int64_t compressed = wrapped >> shift;
  instruction.ea.compressed_displacement = static_cast<std::uint8_t>(compressed);
  const auto back = static_cast<std::int64_t>(static_cast<std::int8_t>(compressed)) * (std::int64_t{1} << shift);
  instruction.ea.disp8_fits = back == wrapped;
  if (ea_flags & kEaByteDisplacement) return 1;
  if (wrapped == 0 && mod0_allowed) return 0;
  return instruction.ea.disp8_fits ? 1 : 2;
}

}  // namespace x86_encoder::ea

namespace x86_encoder::size {

using namespace api;
using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::uint64_t kVectorClasses = 0x27000;
constexpr std::uint64_t kSizeBits16 = kSizeWord;
constexpr std::uint64_t kSizeBits32 = kSizeDword;
constexpr std::uint64_t kSizeBits64 = kSizeQword;

struct AddressRegister {
  std::int32_t id = kNone;
  std::int32_t number = -1;
  std::uint64_t flags = 0;

  bool present() const noexcept { return id != kNone; }
  bool vector() const noexcept { return (flags & kVectorClasses) != 0; }
  bool generalOf(std::uint64_t size_bit) const noexcept { return (flags & kGeneralPurposeClass) && (flags & size_bit); }
};

qovrin::Result<AddressRegister> addressRegister(std::int32_t id) noexcept {
  if (id == kNone) return AddressRegister{};
  const auto row = regs::registerRow(id);
  if (!row) return fail(row.error());
  return AddressRegister{id, static_cast<std::int32_t>((*row)->number), (*row)->flags};
}

unsigned scaleLog2(std::int32_t scale) noexcept {
  return scale <= 1 ? 0 : static_cast<unsigned>(std::countr_zero(static_cast<unsigned>(scale)));
}

bool isPlain(const X86Operand& operand) noexcept {
  return operand.segment == kNone && (operand.value_flags & kValueUnknown) == 0 && !operand.symbolic;
}

struct Placement {
  std::uint8_t modrm = 0;
  std::uint8_t sib = 0;
  bool sib_present = false;
  std::uint8_t displacement_bytes = 0;
  std::uint8_t type = kEaScalar;
  bool rip = false;
  std::uint32_t rex = 0;
};

// REX bits of base and index, and the mod the displacement needs; without
// a base the displacement is always four bytes under mod 0.
std::uint8_t baseAndIndex(X86Instruction& instruction, const X86Operand& operand, const AddressRegister& base,
                          const AddressRegister& index, Placement& place) noexcept {
  place.rex = ea::rexflags(index.number, index.flags, ea::kIndexFieldMask) |
              ea::rexflags(base.number, base.flags, ea::kBaseFieldMask);
  if (!base.present()) return 0;
  return ea::memoryMod(operand.ea_flags, instruction, operand.value, isPlain(operand), (base.number & 7) != 5);
}

qovrin::Result<Placement> placeAbsolute(X86Instruction& instruction, X86Operand& operand, unsigned reg) {
  Placement place;
  bool rip = false;
  if (instruction.mode_bits == 64) {
    rip = operand.rip_relative || ((operand.flags & kClassImmediate) && (operand.ea_flags & kEaAbs) == 0 &&
                                   ((operand.ea_flags & kEaRel) || instruction.default_rel));
    const bool relocatable = operand.segment != kNone || operand.symbol != kNone ||
                             (operand.value_flags & kValueSelfRelative) || operand.symbolic;
    if (rip && !relocatable && !instruction.keep_rip) {
      rip = false;
      operand.rip_relative = false;
      operand.address_bits = 0;
      operand.flags |= kClassRegisterOrMemory | kClassMemory;
    }
  }
  constexpr std::uint32_t kEaSib = 0x40;
  if (rip) {
    if (operand.ea_flags & kEaSib) return fail(Error::SibCannotBeRipRelative);
    place.modrm = ea::genModrm(0, reg, 5);
    place.displacement_bytes = 4;
    place.rip = true;
  } else if (instruction.mode_bits == 64 || (operand.ea_flags & kEaSib)) {
    place.modrm = ea::genModrm(0, reg, 4);
    place.sib = 0x25;
    place.sib_present = true;
    place.displacement_bytes = 4;
  } else if (instruction.address_bits == 16) {
    place.modrm = ea::genModrm(0, reg, 6);
    place.displacement_bytes = 2;
  } else {
    place.modrm = ea::genModrm(0, reg, 5);
    place.displacement_bytes = 4;
  }
  return place;
}

qovrin::Result<Placement> placeVectorIndex(X86Instruction& instruction, const X86Operand& operand, unsigned reg,
                                           AddressRegister base, AddressRegister index, std::int32_t scale) {
  if (base.vector()) {
    std::swap(base, index);
    if (scale != 0 && scale != 1) return fail(Error::InvalidEffectiveAddress);
    scale = 1;
  }
  if (base.present() && !base.generalOf(kSizeBits32) && !base.generalOf(kSizeBits64))
    return fail(Error::InvalidEffectiveAddress);
  if (operand.address_bits == 16 || operand.address_bits == 64 || instruction.address_bits == 16)
    return fail(Error::InvalidEffectiveAddress);
  if (base.present() && instruction.address_bits == 64 && !base.generalOf(kSizeBits64))
    return fail(Error::InvalidEffectiveAddress);
  if (base.present() && instruction.address_bits == 32 && !base.generalOf(kSizeBits32))
    return fail(Error::InvalidEffectiveAddress);
  Placement place;
  if (index.flags & kZmmClass)
    place.type = 3;
  else if (index.flags & kYmmClass)
    place.type = 2;
  else if (index.flags & kXmmClass)
    place.type = 1;
  else
    return fail(Error::InvalidEffectiveAddress);
  if (scale != 1 && scale != 2 && scale != 4 && scale != 8) return fail(Error::InvalidEffectiveAddress);
  const std::uint8_t mod = baseAndIndex(instruction, operand, base, index, place);
  place.modrm = ea::genModrm(mod, reg, 4);
  place.sib = static_cast<std::uint8_t>((scaleLog2(scale) << 6) | ((index.number & 7) << 3) |
                                        (base.present() ? (base.number & 7) : 5));
  place.sib_present = true;
  place.displacement_bytes = (mod == 2 || !base.present()) ? 4 : mod;
  return place;
}

qovrin::Result<Placement> place16(X86Instruction& instruction, const X86Operand& operand, unsigned reg,
                                  const AddressRegister& base, const AddressRegister& index, std::int32_t scale) {
  if (instruction.address_bits == 64) return fail(Error::InvalidEffectiveAddress);
  const auto allowed = [](const AddressRegister& r) {
    return !r.present() ||
           (r.generalOf(kSizeBits16) && (r.number == 3 || r.number == 5 || r.number == 6 || r.number == 7));
  };
  if (!allowed(base) || !allowed(index)) return fail(Error::InvalidEffectiveAddress);
  if (operand.address_bits == 32 || operand.address_bits == 64) return fail(Error::InvalidEffectiveAddress);
  if (index.present() && scale != 1) return fail(Error::InvalidEffectiveAddress);
  int rm = -1;
  if (base.present() && index.present()) {
    const int b = base.number;
    const int i = index.number;
    if (b == i) return fail(Error::InvalidEffectiveAddress);
    const bool b_first = b == 3 || b == 5;
    const int high = b_first ? b : i;
    const int low = b_first ? i : b;
    if ((high != 3 && high != 5) || (low != 6 && low != 7)) return fail(Error::InvalidEffectiveAddress);
    rm = (high == 3 ? 0 : 2) + (low == 6 ? 0 : 1);
  } else {
    const int only = base.present() ? base.number : index.number;
    rm = only == 6 ? 4 : only == 7 ? 5 : only == 5 ? 6 : 7;
  }
  const std::int64_t displacement = static_cast<std::int16_t>(operand.value);
  const std::uint8_t mod = ea::memoryMod(operand.ea_flags, instruction, displacement, isPlain(operand), rm != 6);
  Placement place;
  place.modrm = ea::genModrm(mod, reg, static_cast<unsigned>(rm));
  place.displacement_bytes = mod;
  return place;
}

qovrin::Result<Placement> placeGeneral(X86Instruction& instruction, const X86Operand& operand, unsigned reg,
                                       AddressRegister base, AddressRegister index, std::int32_t scale) {
  const std::uint64_t size = (base.present() ? base.flags : index.flags) & (kSizeBits32 | kSizeBits64);
  for (const AddressRegister* r : {&base, &index})
    if (r->present() && !r->generalOf(size)) return fail(Error::InvalidEffectiveAddress);
  if (operand.address_bits == 16 || operand.address_bits == 64 || instruction.address_bits == 16)
    return fail(Error::InvalidEffectiveAddress);
  if ((instruction.address_bits == 64) != (size == kSizeBits64)) return fail(Error::InvalidEffectiveAddress);

  const std::int32_t hint = operand.hint_base;
  const std::int32_t hint_type = operand.hint_type;
  if (!index.present()) scale = 0;
  if (index.present() && scale == 1) {
    if (!base.present() || base.id == index.id) {
      if (!base.present() && !(hint == index.id && hint_type == kHintNotBase)) {
        base = index;
        index = {};
        scale = 0;
      }
    } else if ((hint == base.id && hint_type == kHintNotBase) || (hint == index.id && hint_type == kHintMakeBase)) {
      std::swap(base, index);
    }
  }
  constexpr std::int32_t kHintSummed = 3;
  const bool times_two = (operand.ea_flags & kEaNoSplit) != 0;
  if (operand.ea_flags & 0x20) {
    if (base.present() && !index.present() && hint == base.id && hint_type == kHintNotBase) {
      index = base;
      base = {};
      scale = 1;
    }
    if (hint_type == kHintSummed && !base.present() && index.present()) {
      base = index;
      scale -= 1;
    }
  } else {
    if (scale == 2 && index.number == 4) return fail(Error::InvalidEffectiveAddress);
    if (scale == 2 && !base.present() && !(times_two && hint_type != kHintSummed)) {
      base = index;
      scale = 1;
    } else if ((scale == 3 || scale == 5 || scale == 9) && !base.present()) {
      base = index;
      scale -= 1;
    } else if (base.present() && !index.present() && (base.number & 7) != 4 && hint == base.id &&
               hint_type == kHintNotBase && times_two) {
      index = base;
      base = {};
      scale = 1;
    }
  }
  if (index.present() && index.number == 4 && scale == 1) {
    std::swap(base, index);
    if (!index.present()) scale = 0;
    if (index.present() && index.number == 4) return fail(Error::InvalidEffectiveAddress);
  }
  if (index.present() && scale != 1 && scale != 2 && scale != 4 && scale != 8)
    return fail(Error::InvalidEffectiveAddress);

  Placement place;
  const std::uint8_t mod = baseAndIndex(instruction, operand, base, index, place);
  place.displacement_bytes = (mod == 2 || !base.present()) ? 4 : mod;
  constexpr std::uint32_t kEaSib = 0x40;
  if (!index.present() && base.present() && (base.number & 7) != 4 && (operand.ea_flags & kEaSib) == 0) {
    place.modrm = ea::genModrm(mod, reg, static_cast<unsigned>(base.number));
    return place;
  }
  place.modrm = ea::genModrm(mod, reg, 4);
  place.sib = static_cast<std::uint8_t>((scaleLog2(index.present() ? scale : 1) << 6) |
                                        ((index.present() ? (index.number & 7) : 4) << 3) |
                                        (base.present() ? (base.number & 7) : 5));
  place.sib_present = true;
  return place;
}

}  // namespace

qovrin::Result<std::uint32_t> applyEaBytecode(X86Instruction& instruction, tables::TemplateRef chosen,
                                              const EaRequest& request) {
  instruction.ea = {};
  auto invalid = [&instruction](Error error) {
    instruction.ea.type = kEaInvalid;
    return fail(error);
  };
  unsigned reg = request.digit;
  std::uint32_t rex = 0;
  if (request.reg_operand != kNoRegisterOperand) {
    const X86Operand& source = instruction.operands[static_cast<std::size_t>(request.reg_operand)];
    const auto value = regs::regval(source);
    if (!value) return invalid(value.error());
    reg = static_cast<unsigned>(*value);
    rex = ea::opRexflags(source, ea::kRegFieldMask);
  }

  const X86Operand& written = instruction.operands[request.ea_operand];
  constexpr std::uint32_t kEvexB = 1u << 28;
  constexpr std::uint32_t kEvexLl = 3u << 29;
  if (instruction.broadcast_present) {
    if (instruction.broadcast_operand >= instruction.operand_count) return invalid(Error::InvalidEvexOperand);
    const X86Operand& decorated = instruction.operands[instruction.broadcast_operand];
    if (decorated.decorators & (kDecoratorRounding | kDecoratorSae)) {
      // Scalar forms ignore the vector length, so rounding and {sae} need no
      // 512-bit length there ("vaddss xmm0, xmm1, xmm2, {rn-sae}").
      const bool scalar = instruction.tuple >= 4 && instruction.tuple <= 8;
      if (!instruction.vector_length_override && !scalar && ((instruction.evex & kEvexLl) >> 29) != 2)
        return invalid(Error::InvalidEvexVectorLength);
      instruction.evex &= ~kEvexLl;
      instruction.evex ^= kEvexB;
      if ((decorated.decorators & kDecoratorRounding) && instruction.rounding >= kRoundingFirst)
        instruction.evex |= ((instruction.rounding - kRoundingFirst) & 3) << 29;
    } else if (written.decorators & kDecoratorBroadcast) {
      instruction.evex ^= kEvexB;
    }
  }

  Placement place;
  if (written.flags & kClassRegister) {
    const auto row = regs::registerRow(written.base);
    if (!row || ((*row)->flags & 5) != 5) return invalid(Error::InvalidEffectiveAddress);
    if (written.decorators & kDecoratorBroadcast) return invalid(Error::BroadcastNotAllowedWithRegisterOperand);
    place.modrm = ea::genModrm(3, reg, (*row)->number);
    place.rex = ea::rexflags(static_cast<std::int32_t>((*row)->number), (*row)->flags, ea::kBaseFieldMask);
  } else {
    // Only an address reads the template's MIB and SIB demands, on a copy
    // of the operand: a register operand, the common case, skips both.
    X86Operand operand = written;
    constexpr std::uint32_t kEaMib = 0x20;
    constexpr std::uint32_t kEaSib = 0x40;
    if (chosen.iflagTest(tables::Iflag::kMib)) {
      operand.ea_flags |= kEaMib;
      if (request.mib_index != kNone) {
        operand.index = request.mib_index;
        operand.scale = 1;
        operand.hint_base = request.mib_index;
        operand.hint_type = kHintNotBase;
      }
    }
    if (chosen.iflagTest(tables::Iflag::kSib)) operand.ea_flags |= kEaSib;
    if (operand.decorators & (kDecoratorRounding | kDecoratorSae))
      return invalid(Error::EmbeddedRoundingRequiresRegister);
    const bool has_index = operand.index != kNone && operand.scale != 0;
    qovrin::Result<Placement> placed = Placement{};
    if (operand.base == kNone && !has_index) {
      placed = placeAbsolute(instruction, operand, reg);
    } else {
      const auto base = addressRegister(operand.base);
      if (!base) return invalid(base.error());
      const auto index = addressRegister(has_index ? operand.index : kNone);
      if (!index) return invalid(index.error());
      if (base->vector() || index->vector())
        placed = placeVectorIndex(instruction, operand, reg, *base, *index, operand.scale);
      else if (!base->generalOf(kSizeBits32 | kSizeBits64) && !index->generalOf(kSizeBits32 | kSizeBits64))
        placed = place16(instruction, operand, reg, *base, *index, operand.scale);
      else
        placed = placeGeneral(instruction, operand, reg, *base, *index, operand.scale);
    }
    if (!placed) return invalid(placed.error());
    place = *placed;
  }
  if (place.type != request.expected_type) return invalid(Error::InvalidEffectiveAddress);

  X86EffectiveAddress& ea = instruction.ea;
  ea.type = place.type;
  ea.modrm = place.modrm;
  ea.sib = place.sib;
  ea.sib_present = place.sib_present;
  ea.displacement_bytes = place.displacement_bytes;
  ea.rip_relative = place.rip;
  ea.size = static_cast<std::uint8_t>(place.displacement_bytes + 1 + (place.sib_present ? 1 : 0));
  instruction.ea_rex = rex | place.rex;
  instruction.rex |= instruction.ea_rex;
  return ea.size;
}

}  // namespace x86_encoder::size
