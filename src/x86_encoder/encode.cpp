#include "x86_encoder/encode.hpp"

#include <array>
#include <bit>
#include <cassert>

#include "x86_encoder/bytecode.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/regs.hpp"
#include "x86_encoder/size.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::encode {

using namespace api;
using bytecode::Emission;
using bytecode::OperandBump;
using qovrin::Error;
using qovrin::fail;

void emitValueBytes(std::span<std::uint8_t> buffer, std::int64_t value, unsigned n) noexcept {
  for (unsigned index = 0; index < n && index < 8 && index < buffer.size(); ++index)
    buffer[index] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * index));
}

namespace {

bool fitsSigned(std::int64_t value, unsigned width) noexcept {
  if (width >= 8) return true;
  const std::int64_t limit = std::int64_t{1} << (8 * width - 1);
  return value >= -limit && value < limit;
}

bool fitsUnsigned(std::int64_t value, unsigned width) noexcept {
  if (value < 0) return false;
  return width >= 8 || value < (std::int64_t{1} << (8 * width));
}

}  // namespace

namespace {

// Warns that a value does not fit its field; the first such value is kept
// for a note that says what was written instead.
void warnBounds(OwnedEncodeResult& result, std::string_view warning, std::int64_t value, unsigned width) noexcept {
  if (result.bounds.width == 0) result.bounds = {warning, value, static_cast<std::uint8_t>(width)};
  result.warn(warning);
}

}  // namespace

void warnOverflowOut(OwnedEncodeResult& result, std::int64_t value, unsigned width, std::uint8_t check,
                     std::string_view size_name) noexcept {
  if (check >= kCheckNone) return;
  bool fits = false;
  if (check & 1)
    fits = fitsSigned(value, width);
  else if (check == kCheckUnsigned)
    fits = fitsUnsigned(value, width);
  else
    fits = fitsSigned(value, width) || fitsUnsigned(value, width);
  if (fits) return;
  std::string_view warning = "value exceeds bounds";
  if (size_name == "byte")
    warning = "byte exceeds bounds";
  else if (size_name == "word")
    warning = "word exceeds bounds";
  else if (size_name == "dword")
    warning = "dword exceeds bounds";
  else if (size_name == "qword")
    warning = "qword exceeds bounds";
  warnBounds(result, warning, value, width);
}

namespace {

std::uint32_t idOf(std::int32_t id) noexcept { return static_cast<std::uint32_t>(id); }

struct Generator {
  OwnedEncodeResult& result;
  X86Instruction& ins;
  std::int64_t size;
  tables::TemplateRef chosen;

  bool plain(const X86Operand& operand) const noexcept {
    return operand.segment == kNone && operand.symbol == kNone && (operand.value_flags & kValueSelfRelative) == 0 &&
           !operand.symbolic;
  }

  bool vexLike() const noexcept { return (ins.rex & (kRexVex | kRexEvex)) != 0; }

  std::int64_t endOfInstruction() const noexcept {
    return result.offset + (size - static_cast<std::int64_t>(result.emitted));
  }

  // Fields are made from the instruction's own operand slots.
  std::uint8_t operandIndex(const X86Operand& operand) const noexcept {
    for (std::uint8_t index = 0; index < ins.operand_count; ++index)
      if (&ins.operands[index] == &operand) return index;
    return kNoOperand;
  }

  EncodeUnit placeholder(UnitKind kind, const X86Operand& operand, unsigned width, std::uint8_t check, FixupKind fixup,
                         std::string_view form) const noexcept {
    EncodeUnit unit;
    unit.kind = kind;
    unit.byte_count = static_cast<std::uint8_t>(width);
    unit.value = operand.value;
    unit.segment = idOf(operand.segment);
    unit.symbol = idOf(operand.symbol);
    unit.fixup = fixup;
    unit.width = static_cast<std::uint8_t>(width);
    unit.check = check;
    unit.has_fixup = true;
    unit.operand = operandIndex(operand);
    unit.symbolic = operand.symbolic;
    unit.form = form;
    return unit;
  }

  qovrin::Status raw(std::int64_t value, unsigned width, std::string_view form, std::uint16_t tag = 0) {
    std::array<std::uint8_t, 8> bytes{};
    emitValueBytes(bytes, value, width);
    return result.outRawdata(std::span(bytes).first(width), form, tag);
  }

  qovrin::Status outImm(const X86Operand& operand, unsigned width, std::uint8_t check, std::string_view form) {
    const unsigned word_bytes = ins.mode_bits / 8u;
    const std::uint8_t effective = (check < kCheckNone && width > word_bytes - 1) ? kCheckGeneral : check;
    if (operand.segment != kNone && (operand.segment & 1)) {
      if (width < 2) result.warn("segment reference must be 16 bits");
      return result.append(placeholder(UnitKind::imm, operand, width, check, FixupKind::segment, form));
    }
    if ((operand.value_flags & kValueSelfRelative) == 0) {
      if (plain(operand)) {
        warnOverflowOut(result, operand.value, width, effective, form);
        return raw(operand.value, width, form);
      }
      return result.append(placeholder(UnitKind::imm, operand, width, check, FixupKind::absolute, form));
    }
    if (operand.segment == ins.segment && operand.symbol == kNone) {
      warnOverflowOut(result, operand.value, width, effective, form);
      return raw(operand.value, width, form);
    }
    return result.append(placeholder(UnitKind::imm, operand, width, check, FixupKind::relative, form));
  }

  // A branch target or RIP-relative address is an address, never a distance
  // from wherever this encoding happens to be placed, so the field is always
  // left for the patcher, measured from the end of the instruction.
  qovrin::Status outReladdr(const X86Operand& operand, unsigned width, std::string_view form) {
    if (operand.value_flags & kValueSelfRelative) result.warn("invalid use of self-relative expression");
    EncodeUnit unit = placeholder(UnitKind::rel, operand, width, kCheckSigned, FixupKind::relative, form);
    unit.base = endOfInstruction();
    return result.append(unit);
  }

  qovrin::Status outFarseg(const X86Operand& operand) {
    if (operand.value_flags & kValueSelfRelative) result.warn("segment references cannot be relative");
    EncodeUnit unit = placeholder(UnitKind::farseg, operand, 2, kCheckUnsigned, FixupKind::segment, "far segment");
    unit.value = 0;
    unit.segment = idOf(operand.segment) | 1u;
    return result.append(unit);
  }

  qovrin::Status emitRex() {
    if (ins.rex_emitted) return {};
    ins.rex_emitted = true;
    if (vexLike()) return {};
    std::array<std::uint8_t, 4> bytes{};
    unsigned n = 0;
    if (ins.rex & kRexRex2) {
      bytes[n++] = 0xD5;
      bytes[n++] = static_cast<std::uint8_t>((ins.rex & 0xF) | ((ins.rex >> 8) & 0x70) | ((ins.map & 1) << 7));
      return result.outRawdata(std::span(bytes).first(n), "emit_rex", 0);
    }
    if ((ins.rex & 0x2F) == (kRexR | kRexLockAsR) && ins.mode_bits != 64)
      bytes[n++] = 0xF0;
    else if (ins.rex & kRexRequired)
      bytes[n++] = static_cast<std::uint8_t>(0x40 | (ins.rex & 0xF));
    else if (ins.rex & 0xF)
      return fail(Error::InvalidPrefixEncoding);
    if (ins.map >= 1 && ins.map <= 3) {
      bytes[n++] = 0x0F;
      if (ins.map >= 2) bytes[n++] = static_cast<std::uint8_t>(2 * ins.map + 0x34);
    }
    if (n == 0) return {};
    return result.outRawdata(std::span(bytes).first(n), "emit_rex", 0);
  }

  // Sizing settled the bytes (legacy_bytes); what is left is what only code
  // generation reports. A byte the template forces can carry an address- or
  // operand-size word through sizing that this mode has no such size for;
  // those words only ever stand in their own slots. Likewise only the
  // segment slot holds register ids, so only it can name a segment that
  // 64-bit mode ignores.
  qovrin::Status legacyPrefixes() {
    const bool long_mode = ins.mode_bits == 64;
    const std::uint32_t address_size = ins.prefix(PrefixSlot::address_size);
    if ((address_size == kPrefixA16 && long_mode) || (address_size == kPrefixA64 && !long_mode))
      return fail(Error::InvalidAddressSize);
    if (ins.prefix(PrefixSlot::operand_size) == kPrefixO64 && !long_mode) return fail(Error::InvalidOperandSize);
    const auto segment = static_cast<std::int32_t>(ins.prefix(PrefixSlot::segment));
    const bool jcc_hint = tables::kJccHintIflagRows.contains(chosen.row().iflags);
    const bool cs_or_ds = segment == tables::kRegisterIdCs || segment == tables::kRegisterIdDs;
    const bool segment_ignored =
        long_mode && ((cs_or_ds && !jcc_hint) || segment == tables::kRegisterIdEs || segment == tables::kRegisterIdSs);
    if (segment_ignored) result.warn("segment override ignored in 64-bit mode");
    if (ins.legacy_count == 0) return {};
    return result.outRawdata(std::span(ins.legacy_bytes).first(ins.legacy_count), "legacy prefixes", 0);
  }

  qovrin::Status vexPrefix(std::uint8_t code) {
    const std::uint32_t rex = ins.rex;
    const unsigned r = (rex & kRexR) ? 1 : 0;
    const unsigned x = (rex & kRexX) ? 1 : 0;
    const unsigned b = (rex & kRexB) ? 1 : 0;
    const unsigned w = (rex & kRexW) ? 1 : 0;
    const unsigned v = static_cast<unsigned>(ins.v_register | ins.v_immediate) & 15u;
    const unsigned lpp = ins.vex_params & 7u;
    const auto tag = static_cast<std::uint16_t>(0x100 + code);
    if (ins.map == 1 && !(w | x | b) && ins.prefix(PrefixSlot::encoding) != kSelectVex3) {
      const std::array<std::uint8_t, 2> bytes{0xC5, static_cast<std::uint8_t>(((v << 3) | (r << 7) | lpp) ^ 0xF8)};
      return result.outRawdata(bytes, "vex2", tag);
    }
    const std::array<std::uint8_t, 3> bytes{
        static_cast<std::uint8_t>(ins.map > 0x3F ? 0x8F : 0xC4),
        static_cast<std::uint8_t>(((ins.map & 0x1F) | (r << 7) | (x << 6) | (b << 5)) ^ 0xE0),
        static_cast<std::uint8_t>(((w << 7) | (v << 3) | lpp) ^ 0x78)};
    return result.outRawdata(bytes, "vex3/xop", tag);
  }

  qovrin::Status evexPrefix(std::uint8_t code) {
    std::uint32_t word = ins.evex;
    const std::uint32_t rex = ins.rex;
    const auto p0 = [](unsigned bit) { return 1u << (8 + bit); };
    const auto p1 = [](unsigned bit) { return 1u << (16 + bit); };
    const auto p2 = [](unsigned bit) { return 1u << (24 + bit); };
    if (rex & kRexR4) word ^= p0(4);
    if (rex & kRexB) word ^= p0(5);
    if (rex & kRexX) word ^= p0(6);
    if (rex & kRexR) word ^= p0(7);
    if (rex & kRexB4) word ^= (rex & kRexVectorB4) ? p0(6) : p0(3);
    if (rex & kRexX4) word ^= (rex & kRexVectorX4) ? p2(3) : p1(2);
    const auto v = static_cast<std::uint32_t>(ins.v_register | ins.v_immediate);
    word ^= (v & 15u) << 19;
    if (v & 16u) word ^= p2(3);
    if (ins.operand_count > 0) {
      const std::uint16_t decorators = ins.operands[0].decorators;
      if (decorators & kDecoratorOpmask) word ^= static_cast<std::uint32_t>(decorators & 7u) << 24;
      if (decorators & kDecoratorZeroing) word ^= p2(7);
    }
    if (rex & kRexW) word |= p1(7);
    if (ins.prefix(PrefixSlot::marker_370) != 0 && (chosen.extraWord() & tables::kExtraWordNfFlip)) word ^= p2(2);
    if (ins.prefix(PrefixSlot::marker_371) != 0 && (chosen.extraWord() & tables::kExtraWordZuFlip)) word ^= p2(4);
    std::array<std::uint8_t, 4> bytes{};
    emitValueBytes(bytes, word, 4);
    return result.outRawdata(bytes, "evex prefix", static_cast<std::uint16_t>(0x100 + code));
  }

  qovrin::Status emitEaEncoding(const X86Operand& operand, std::uint16_t tag) {
    QOVRIN_TRY(emitRex());
    const X86EffectiveAddress& ea = ins.ea;
    std::array<std::uint8_t, 2> bytes{ea.modrm, ea.sib};
    QOVRIN_TRY(result.outRawdata(std::span(bytes).first(ea.sib_present ? 2 : 1), "modrm/sib", tag));
    // A displacement that wrapped around to zero takes no bytes, yet the
    // address written is still out of reach.
    const bool unreachable = !reachable(operand);
    if (ea.displacement_bytes == 0) {
      if (unreachable) result.warn("displacement exceeds bounds");
      return {};
    }
    if (ea.rip_relative) return outReladdr(operand, 4, "rip-relative displacement");
    if (ea.displacement_bytes == 1) {
      if (!ea.disp8_fits || unreachable) result.warn("displacement exceeds bounds");
      const std::array<std::uint8_t, 1> disp{ea.compressed_displacement};
      return result.outRawdata(disp, "disp8", tag);
    }
    const unsigned width = ea.displacement_bytes;
    const unsigned address_bytes = ins.address_bits / 8u;
    QOVRIN_TRY(outImm(operand, width, address_bytes > width ? kCheckDisplacement : kCheckNone, "displacement"));
    if (unreachable) result.warn("displacement exceeds bounds");
    return {};
  }

  // Whether the processor reaches the address written. 64-bit addressing
  // sign-extends a displacement of at most 32 bits; 16- and 32-bit addressing
  // wrap around, so a value that fits the address size either way is exact.
  bool reachable(const X86Operand& operand) const noexcept {
    if (operand.kind != OperandKind::memory || !plain(operand)) return true;
    if (ins.address_bits == 64) return fitsSigned(operand.value, 4);
    const unsigned address_bytes = ins.address_bits / 8u;
    return fitsSigned(operand.value, address_bytes) || fitsUnsigned(operand.value, address_bytes);
  }

  qovrin::Status emitSignedByteImmediate(const X86Operand& operand, std::uint16_t tag) {
    if (!plain(operand)) return outImm(operand, 1, kCheckGeneral, "ib,s");
    const std::int64_t value = operand.value;
    if (value < -128 || value > 127) {
      const unsigned bits = ins.operand_bits;
      const bool unsigned_form =
          bits < 64 && value >= (std::int64_t{1} << bits) - 128 && value <= (std::int64_t{1} << bits) - 1;
      if (!unsigned_form) {
        std::string_view warning = "signed dword exceeds bounds";
        if (operand.flags & kSizeByte)
          warning = "signed byte exceeds bounds";
        else if (bits == 16)
          warning = "word exceeds bounds";
        else if (bits == 32)
          warning = "dword exceeds bounds";
        warnBounds(result, warning, value, 1);
      }
    }
    return raw(value, 1, "ib,s", tag);
  }

  qovrin::Status emitHintNopImmediate(const X86Operand& operand, std::uint16_t tag) {
    QOVRIN_TRY(emitRex());
    if (!plain(operand)) return outImm(operand, 1, kCheckUnsigned, "ibn");
    const std::int64_t value = operand.value;
    if (value != 0x0D && (value < 0x18 || value > 0x1F)) result.warn("not a valid hint-NOP opcode (0D, 18-1F)");
    return raw(value, 1, "ibn", tag);
  }

  qovrin::Status emitXorImmediate(const X86Operand& operand, std::uint8_t check, std::uint8_t mask, std::uint16_t tag) {
    if (check > kCheckUnsigned) return fail(Error::InvalidBytecodePayload);
    if (!plain(operand)) return fail(Error::InvalidOperandSize);
    warnOverflowOut(result, operand.value, 1, check, "byte");
    return raw((operand.value & 0xFF) ^ mask, 1, "ib^XX", tag);
  }

  qovrin::Result<std::int32_t> registerValue(unsigned operand) const {
    if (operand >= ins.operand_count) return fail(Error::MissingOperand);
    return regs::regval(ins.operands[operand]);
  }

  static std::uint8_t is4Register(std::int32_t value) noexcept {
    return static_cast<std::uint8_t>(((value & 15) << 4) | (((value >> 4) & 1) << 3));
  }

  qovrin::Status is4(std::uint8_t payload, std::uint8_t code) {
    const auto reg = registerValue((payload >> 3) & 7u);
    if (!reg) return fail(reg.error());
    const unsigned immediate_index = payload & 7u;
    if (immediate_index >= ins.operand_count) return fail(Error::MissingOperand);
    const X86Operand& immediate = ins.operands[immediate_index];
    const std::int64_t limit = ins.prefix(PrefixSlot::encoding) == kSelectEvex ? 7 : 15;
    if (!plain(immediate))
      result.warn("non-absolute expression not permitted as is4 argument");
    else if (immediate.value > limit)
      result.warn("is4 argument exceeds bounds");
    const std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>(is4Register(*reg) | (immediate.value & limit))};
    return result.outRawdata(byte, "/is4", static_cast<std::uint16_t>(0x100 + code));
  }

  qovrin::Status reserve(const X86Operand& operand, std::uint8_t code) {
    if (operand.segment != kNone) return fail(Error::NonConstantReserve);
    if (operand.value < 0) return fail(Error::InvalidReserveSize);
    const std::uint8_t element = size::reserveElementSize(ins.opcode);
    if (element == 0) return fail(Error::InvalidReserveOpcode);
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(operand.value), std::uint64_t{element}, &bytes))
      return fail(Error::ReserveOverflow);
    EncodeUnit unit;
    unit.kind = UnitKind::reserve;
    unit.reserve_size = bytes;
    unit.form = "reserve";
    unit.tag = static_cast<std::uint16_t>(0x100 + code);
    return result.append(unit);
  }

  qovrin::Status immediateOrRelative(const X86Operand& operand, std::uint8_t code) {
    switch (code & ~3u) {
      case 020:
        return outImm(operand, 1, kCheckGeneral, "ib");
      case 024:
        return outImm(operand, 1, kCheckUnsigned, "ib,u");
      case 030:
        return outImm(operand, 2, kCheckGeneral, "iw");
      case 034:
        return outImm(operand, size::wordOrDwordWidth(operand, ins.operand_bits), kCheckGeneral, "iwd");
      case 040:
        return outImm(operand, 4, kCheckGeneral, "id");
      case 044:
        return outImm(operand, ins.address_bits / 8u, kCheckGeneral, "iwdq");
      case 050:
        return outReladdr(operand, 1, "rel8");
      case 054:
        return outImm(operand, 8, kCheckGeneral, "iq");
      case 060:
        return outReladdr(operand, 2, "rel16");
      case 064:
        return outReladdr(operand, size::wordOrDwordWidth(operand, ins.operand_bits), "rel");
      case 070:
        return outReladdr(operand, 4, "rel32");
      case 074:
        if (operand.segment == kNone) result.warn("value referenced by FAR is not relocatable");
        return outFarseg(operand);
      case 0254:
        return outImm(operand, 4, kCheckSigned, "id,s");
      case 0264:
        return outImm(operand, 4, kCheckUnsigned, "id,u");
      default:
        return fail(Error::UnsupportedBytecode);
    }
  }

  qovrin::Status run(std::span<const std::uint8_t> program) {
    QOVRIN_TRY(legacyPrefixes());
    std::size_t position = 0;
    OperandBump bump;
    while (true) {
      if (position >= program.size()) return fail(Error::MissingPayload);
      const std::uint8_t c = program[position++];
      const bytecode::CodeDescriptor& code = bytecode::describeCode(c);
      const OperandBump current = bump;
      bump = {};
      if (program.size() - position < code.payload) return fail(Error::MissingPayload);
      const std::span<const std::uint8_t> payload = program.subspan(position, code.payload);
      position += code.payload;
      // Worked out only by the codes that name operands or tag their units.
      const auto b = [current, c] { return current.primary(c); };
      const auto a = [current, c] { return current.secondary(c); };
      const auto bump_tag = static_cast<std::uint16_t>(0x100 + current.code);
      const auto code_tag = static_cast<std::uint16_t>(0x100 + c);
      const auto operand = [this](unsigned index) -> qovrin::Result<const X86Operand*> {
        if (index >= ins.operand_count) return fail(Error::MissingOperand);
        return &ins.operands[index];
      };
      // Opcode bytes make most codes: tested before the switch, they cost a
      // well-predicted branch instead of an indirect jump (x86_encode_bench).
      if (code.emission == Emission::literal) {
        QOVRIN_TRY(emitRex());
        QOVRIN_TRY(result.outRawdata(payload, "literal opcode", code_tag));
        continue;
      }
      switch (code.emission) {
        case Emission::unsupported:
          return fail(Error::UnsupportedBytecode);
        case Emission::finish:
          return {};
        case Emission::bump:
          bump.code = c;
          continue;
        case Emission::plus_register: {
          const auto reg = registerValue(b());
          if (!reg) return fail(reg.error());
          QOVRIN_TRY(emitRex());
          const std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>(payload[0] + (*reg & 7))};
          QOVRIN_TRY(result.outRawdata(byte, "+r opcode", code_tag));
          continue;
        }
        case Emission::immediate: {
          const auto source = operand(b());
          if (!source) return fail(source.error());
          QOVRIN_TRY(immediateOrRelative(**source, c >= 0254 ? static_cast<std::uint8_t>(c & ~3u) : c));
          continue;
        }
        case Emission::address: {
          const auto source = operand(a());
          if (!source) return fail(source.error());
          QOVRIN_TRY(emitEaEncoding(**source, bump_tag));
          continue;
        }
        case Emission::literal:
        case Emission::nothing:
          continue;
        case Emission::own:
          break;
      }
      switch (c) {
        case 0171: {
          const std::uint8_t m = payload[0];
          const auto reg = registerValue(((m >> 3) & 3u) + ((current.code & 2u) ? 4u : 0u));
          if (!reg) return fail(reg.error());
          const std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>((m & 0307) | ((*reg & 7) << 3))};
          QOVRIN_TRY(result.outRawdata(byte, "/mrb", code_tag));
          break;
        }
        case 0172:
          QOVRIN_TRY(is4(payload[0], c));
          break;
        case 0173: {
          const auto reg = registerValue(payload[0] >> 4);
          if (!reg) return fail(reg.error());
          const std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>(is4Register(*reg) | (payload[0] & 15))};
          QOVRIN_TRY(result.outRawdata(byte, "/is4=NN", code_tag));
          break;
        }
        case 0174:
        case 0175:
        case 0176:
        case 0177: {
          const auto reg = registerValue(b());
          if (!reg) return fail(reg.error());
          const std::array<std::uint8_t, 1> byte{is4Register(*reg)};
          QOVRIN_TRY(result.outRawdata(byte, "/is4 implicit", code_tag));
          break;
        }
        case 0240:
        case 0241:
        case 0242:
        case 0243:
        case 0250:
          QOVRIN_TRY(evexPrefix(c));
          break;
        case 0260:
        case 0261:
        case 0262:
        case 0263:
        case 0270:
          QOVRIN_TRY(vexPrefix(c));
          break;
        case 0274:
        case 0275:
        case 0276:
        case 0277: {
          const auto source = operand(b());
          if (!source) return fail(source.error());
          QOVRIN_TRY(emitSignedByteImmediate(**source, bump_tag));
          break;
        }
        case 0300:
        case 0301:
        case 0302:
        case 0303: {
          const auto source = operand(b());
          if (!source) return fail(source.error());
          QOVRIN_TRY(emitHintNopImmediate(**source, bump_tag));
          break;
        }
        case 0304:
        case 0305:
        case 0306:
        case 0307: {
          const auto source = operand(b());
          if (!source) return fail(source.error());
          QOVRIN_TRY(emitXorImmediate(**source, payload[0], payload[1], bump_tag));
          break;
        }
        case 0340: {
          const auto source = operand(b());
          if (!source) return fail(source.error());
          QOVRIN_TRY(reserve(**source, c));
          break;
        }
        case 0373: {
          const std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>(ins.mode_bits == 16 ? 3 : 5)};
          QOVRIN_TRY(result.outRawdata(byte, "jlen", code_tag));
          break;
        }
        default:
          return fail(Error::UnsupportedBytecode);
      }
    }
  }
};

}  // namespace

qovrin::Status gencode(OwnedEncodeResult& result, X86Instruction& instruction, std::int64_t instruction_size) {
  result.deinit();
  if (!instruction.template_present || instruction.template_index >= tables::kTemplateCount)
    return fail(Error::MissingTemplate);
  const std::span<const std::uint8_t> program = size::programFor(instruction);
  if (program.empty()) return fail(Error::MissingBytecode);
  result.offset = instruction.offset;
  result.segment = idOf(instruction.segment);
  result.instruction_size = static_cast<std::uint64_t>(instruction_size);
  result.template_index = instruction.template_index;
  result.template_used = true;
  result.mode_bits = instruction.mode_bits;
  result.operand_bits = instruction.operand_bits;
  instruction.rex_emitted = false;
  Generator generator{result, instruction, instruction_size, tables::TemplateRef{instruction.template_index}};
  if (auto status = generator.run(program); !status) {
    result.deinit();
    return status;
  }
  // Sizing and generation walk the program each for their own ends; they
  // share every code's payload and fixed size, but the operand-dependent
  // widths are worked out twice, and layout trusts the size.
  assert(result.emitted == static_cast<std::uint64_t>(instruction_size));
  return {};
}

}  // namespace x86_encoder::encode
