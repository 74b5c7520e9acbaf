#include "x86_encoder/size.hpp"

#include "x86_encoder/size_prefixes.hpp"

#include "x86_encoder/bytecode.hpp"
#include "x86_encoder/effective_address.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/regs.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::size {

using namespace api;
using bytecode::Sizing;
using bytecode::OperandBump;
using qovrin::Error;
using qovrin::fail;
using tables::Iflag;
using tables::TemplateRef;

std::uint8_t reserveElementSize(std::uint16_t opcode) noexcept {
  static constexpr std::uint8_t kSizes[] = {1, 2, 4, 8, 10, 16, 32, 64};
  if (!tables::kReserveMnemonics.contains(opcode)) return 0;
  return kSizes[opcode - tables::kReserveMnemonics.first];
}

std::uint8_t wordOrDwordWidth(const X86Operand& operand, std::uint8_t operand_bits) noexcept {
  if (operand.flags & kSizeWord) return 2;
  if (operand.flags & (kSizeDword | kSizeQword)) return 4;
  return operand_bits == 16 ? 2 : 4;
}

namespace {

constexpr std::uint8_t kSuppressO16 = 0x10;
constexpr std::uint8_t kSuppressO32 = 0x20;
constexpr std::uint8_t kSuppressO64 = 0x40;

struct Sizer {
  X86Instruction& ins;
  const X86SizeContext& context;
  TemplateRef chosen;
  std::uint8_t suppress = 0;

  std::uint32_t& slot(PrefixSlot s) noexcept { return ins.prefix(s); }

  qovrin::Status needOperand(unsigned index) const noexcept {
    if (index >= ins.operand_count) return fail(Error::MissingOperand);
    return {};
  }

  // A size word that names another operand size than the template's would
  // otherwise change how the processor reads the immediate that follows.
  qovrin::Status size16() noexcept {
    ins.operand_bits = 16;
    std::uint32_t& s4 = slot(PrefixSlot::operand_size);
    if (s4 == kPrefixO32 || s4 == kPrefixO64) return fail(Error::InvalidOperandSize);
    if ((s4 == 0 || s4 == kPrefixO16) && !(suppress & kSuppressO16)) s4 = kPrefixO16;
    return {};
  }

  qovrin::Status size32() noexcept {
    ins.operand_bits = 32;
    if (ins.rex & kRexSize64NoW) return fail(Error::InvalidOperandSize);
    std::uint32_t& s4 = slot(PrefixSlot::operand_size);
    if (s4 == kPrefixO16 || s4 == kPrefixO64) return fail(Error::InvalidOperandSize);
    if (s4 == kPrefixOsp && ins.mode_bits == 16) return {};
    if ((s4 == 0 || s4 == kPrefixO32) && !(suppress & kSuppressO32)) s4 = kPrefixO32;
    return {};
  }

  qovrin::Status size64(bool with_w) noexcept {
    ins.operand_bits = 64;
    if (!with_w) ins.rex |= kRexSize64NoW;
    std::uint32_t& s4 = slot(PrefixSlot::operand_size);
    if (s4 == 0 || s4 == kPrefixO64) {
      if (suppress < kSuppressO64) s4 = kPrefixO64;
    } else if (s4 == kPrefixOsp) {
      if (with_w && !(ins.rex & kRexSize64NoW)) ins.rex |= kRexW;
    } else {
      return fail(Error::InvalidOperandSize);
    }
    return {};
  }

  qovrin::Status sizeFromPrefix() noexcept {
    std::uint32_t& s4 = slot(PrefixSlot::operand_size);
    const std::uint8_t bits = ins.operand_bits;
    if (s4 == kPrefixO16 || (s4 == 0 && bits == 16)) {
      ins.operand_bits = 16;
      if (!(suppress & kSuppressO16)) s4 = kPrefixO16;
    } else if (s4 == kPrefixO32 || (s4 == 0 && bits == 32)) {
      ins.operand_bits = 32;
      if (ins.rex & kRexSize64NoW) return fail(Error::InvalidOperandSize);
      if (!(suppress & kSuppressO32)) s4 = kPrefixO32;
    } else if (s4 == kPrefixO64 || (s4 == 0 && bits == 64)) {
      ins.operand_bits = 64;
      if (suppress < kSuppressO64) s4 = kPrefixO64;
    } else if (s4 == kPrefixOsp) {
      if (ins.mode_bits == 16) {
        if (ins.rex & kRexSize64NoW) return fail(Error::InvalidOperandSize);
        ins.operand_bits = 32;
      } else {
        ins.operand_bits = 16;
      }
    } else {
      return fail(Error::InvalidOperandSize);
    }
    return {};
  }

  qovrin::Status addressSize(std::uint8_t bits) noexcept {
    std::uint32_t& s2 = slot(PrefixSlot::address_size);
    ins.address_bits = bits;
    if (bits == 16) {
      if (ins.mode_bits == 64) return fail(Error::InvalidAddressSize);
      if (s2 == 0)
        s2 = kPrefixA16;
      else if (!(s2 == kPrefixA16 || (s2 == kPrefixAsp && ins.mode_bits == 32)))
        return fail(Error::InvalidAddressSize);
    } else if (bits == 32) {
      if (s2 == 0)
        s2 = kPrefixA32;
      else if (!(s2 == kPrefixA32 || (s2 == kPrefixAsp && ins.mode_bits != 32)))
        return fail(Error::InvalidAddressSize);
    } else {
      if (ins.mode_bits != 64) return fail(Error::InvalidAddressSize);
      if (s2 == 0)
        s2 = kPrefixA64;
      else if (s2 != kPrefixA64)
        return fail(Error::InvalidAddressSize);
    }
    return {};
  }

  // V of a VEX or EVEX prefix from the named operand.
  qovrin::Status takeV(int operand) noexcept {
    ins.v_register = 0;
    ins.v_immediate = 0;
    if (operand < 0) return {};
    QOVRIN_TRY(needOperand(static_cast<unsigned>(operand)));
    const X86Operand& source = ins.operands[static_cast<std::size_t>(operand)];
    const auto value = regs::regval(source);
    if (!value) return fail(value.error());
    if (source.kind == OperandKind::immediate)
      ins.v_immediate = *value;
    else
      ins.v_register = static_cast<std::uint8_t>(*value);
    return {};
  }
};

qovrin::Status applyVexSetup(Sizer& s, int v_operand, const std::uint8_t* payload) {
  s.ins.map = payload[0];
  s.ins.vex_params = payload[1];
  s.ins.rex |= kRexVex;
  return s.takeV(v_operand);
}

qovrin::Status applyEvexSetup(Sizer& s, int v_operand, const std::uint8_t* payload) {
  const std::uint8_t tuple = payload[3];
  if (tuple < 0300 || tuple >= 0300 + tables::kEvexTupleCount) return fail(Error::InvalidEvexTupleType);
  std::uint32_t word = 0x62;
  for (unsigned index = 0; index < 3; ++index) word |= static_cast<std::uint32_t>(payload[index]) << (8 * (index + 1));
  s.ins.evex = word;
  s.ins.map = static_cast<std::uint8_t>(0x80 | ((word >> 8) & 7));
  s.ins.tuple = static_cast<std::uint8_t>(tuple - 0300);
  s.ins.vex_params = 0;
  s.ins.rex |= kRexEvex;
  return s.takeV(v_operand);
}

// The codes that take a prefix, size, map or REX decision and add no bytes,
// and the reserve code, whose length is the count it reads.
[[gnu::always_inline]] inline qovrin::Status applySetting(Sizer& s, std::uint8_t c, unsigned operand_index, std::int64_t& length,
                            std::uint8_t& lock_class) {
  X86Instruction& ins = s.ins;
  const auto force = [&ins](PrefixSlot slot, std::int16_t byte) -> qovrin::Status {
    ins.forced[static_cast<std::size_t>(slot)] = byte;
    return {};
  };
  switch (c) {
    case 0271:
    case 0272:
    case 0273:
      lock_class = static_cast<std::uint8_t>(c - 0270);
      return {};
    case 0310:
      return s.addressSize(16);
    case 0311:
      return s.addressSize(32);
    case 0313:
      return s.addressSize(64);
    case 0320:
      return s.size16();
    case 0321:
      return s.size32();
    case 0323:
      return s.size64(false);
    case 0324:
      return s.size64(true);
    case 0325:
      ins.rex |= kRexNoHighByte;
      return {};
    case 0327:
      if (ins.mode_bits == 64) {
        ins.rex |= kRexSize64NoW;
        if (ins.operand_bits == 32) ins.operand_bits = 64;
      }
      return {};
    case 0330:
      return s.sizeFromPrefix();
    case 0331:
      return force(PrefixSlot::rep, -1);
    case 0332:
      return force(PrefixSlot::rep, 0xF2);
    case 0333:
      return force(PrefixSlot::rep, 0xF3);
    case 0334:
      ins.rex |= kRexLockAsR;
      return {};
    case 0336:
    case 0337:
      if (!(ins.option_flags & kOptionKeepSizePrefix)) s.suppress = c == 0336 ? 0x70 : 0x40;
      return {};
    case 0340: {
      QOVRIN_TRY(s.needOperand(operand_index));
      const X86Operand& count_operand = ins.operands[operand_index];
      if (count_operand.segment != kNone || count_operand.symbol != kNone ||
          (count_operand.value_flags & kValueSelfRelative))
        return fail(Error::InvalidOperandSize);
      if (count_operand.value_flags & kValueUnknown) count(s.context, PrefixCounter::reserve_unknown);
      const std::uint8_t element = reserveElementSize(ins.opcode);
      if (element == 0) return fail(Error::InvalidReserveOpcode);
      std::int64_t bytes = 0;
      if (__builtin_mul_overflow(count_operand.value, static_cast<std::int64_t>(element), &bytes) ||
          __builtin_add_overflow(length, bytes, &length))
        return fail(Error::SizeOverflow);
      return {};
    }
    case 0341:
      if (s.slot(PrefixSlot::wait) == 0) s.slot(PrefixSlot::wait) = kPrefixWait;
      return {};
    case 0342:
      if (ins.mode_bits == 16) return s.size16();
      if (ins.mode_bits == 32) return s.size32();
      if (ins.mode_bits == 64) return s.size64(true);
      return fail(Error::InvalidOperandSize);
    case 0344:
    case 0345:
    case 0346:
    case 0347:
      ins.rex |= kRexRequired | (1u << (c - 0344));
      return {};
    case 0350:
      ins.rex |= kRexRex2 | kRexRequired;
      return {};
    case 0351:
      ins.rex |= kRexRex2 | kRexRequired | kRexW;
      return {};
    case 0355:
    case 0356:
    case 0357:
      ins.map = static_cast<std::uint8_t>(c - 0354);
      return {};
    case 0360:
      force(PrefixSlot::operand_size, -1);
      return force(PrefixSlot::rep, -1);
    case 0361:
      force(PrefixSlot::operand_size, 0x66);
      return force(PrefixSlot::rep, -1);
    case 0364:
      return force(PrefixSlot::operand_size, -1);
    case 0365:
      return force(PrefixSlot::address_size, -1);
    case 0366:
      return force(PrefixSlot::operand_size, 0x66);
    case 0367:
      return force(PrefixSlot::address_size, 0x67);
    case 0371:
      if (s.slot(PrefixSlot::rep) == kPrefixBnd) {
        s.slot(PrefixSlot::rep) = 0;
        if (!ins.keep_bnd) count(s.context, PrefixCounter::bnd_dropped);
      }
      return {};
    default:
      // The rest of the settings only steer matching or generation.
      return {};
  }
}

qovrin::Result<std::int64_t> walkProgram(Sizer& s, std::span<const std::uint8_t> program, std::uint8_t& lock_class) {
  X86Instruction& ins = s.ins;
  std::size_t position = 0;
  std::int64_t length = 0;
  std::int32_t mib_index = kNone;
  std::uint8_t expected_type = kEaScalar;
  OperandBump bump;
  while (position < program.size()) {
    const std::uint8_t c = program[position++];
    const bytecode::CodeDescriptor& code = bytecode::describeCode(c);
    const OperandBump current = bump;
    bump = {};
    if (program.size() - position < code.payload) return fail(Error::MissingPayload);
    const std::uint8_t* payload = program.data() + position;
    position += code.payload;
    length += code.size;
    const unsigned b = current.primary(c);
    // Opcode bytes and immediates make most codes: tested before the switch,
    // they cost a well-predicted branch instead of an indirect jump
    // (x86_encode_bench shows it; no figure was recorded).
    if (code.sizing == Sizing::counted) continue;
    if (code.sizing == Sizing::operand) {
      QOVRIN_TRY(s.needOperand(b));
      continue;
    }
    switch (code.sizing) {
      case Sizing::unsupported:
        return fail(Error::UnsupportedBytecode);
      case Sizing::finish:
        return length;
      case Sizing::bump:
        bump.code = c;
        continue;
      case Sizing::counted:
      case Sizing::operand:
        continue;  // taken before the switch
      case Sizing::base_rex:
        QOVRIN_TRY(s.needOperand(b));
        ins.rex |= ea::opRexflags(ins.operands[b], ea::kBaseFieldMask);
        continue;
      case Sizing::mib_index:
        QOVRIN_TRY(s.needOperand(b));
        mib_index = ins.operands[b].base;
        continue;
      case Sizing::word_or_dword:
        QOVRIN_TRY(s.needOperand(b));
        length += wordOrDwordWidth(ins.operands[b], ins.operand_bits);
        continue;
      case Sizing::address_width:
        QOVRIN_TRY(s.needOperand(b));
        length += ins.address_bits / 8;
        continue;
      case Sizing::effective_address: {
        EaRequest request;
        if (c < 0140) {
          const unsigned reg = (c & 7u) + ((current.code & 1u) ? 4u : 0u);
          QOVRIN_TRY(s.needOperand(reg));
          request.reg_operand = static_cast<std::int32_t>(reg);
        } else {
          request.digit = c & 7u;
        }
        const unsigned a = current.secondary(c);
        QOVRIN_TRY(s.needOperand(a));
        request.ea_operand = static_cast<std::uint8_t>(a);
        request.mib_index = mib_index;
        request.expected_type = expected_type;
        const auto size = applyEaBytecode(ins, s.chosen, request);
        if (!size) return fail(size.error());
        length += *size;
        expected_type = kEaScalar;
        continue;
      }
      case Sizing::reg_field_rex: {
        const unsigned reg = ((payload[0] >> 3) & 3u) + ((current.code & 2u) ? 4u : 0u);
        QOVRIN_TRY(s.needOperand(reg));
        ins.rex |= ea::opRexflags(ins.operands[reg], ea::kRegFieldMask);
        continue;
      }
      case Sizing::vex:
        QOVRIN_TRY(applyVexSetup(s, c == 0270 ? -1 : static_cast<int>(b), payload));
        continue;
      case Sizing::evex:
        QOVRIN_TRY(applyEvexSetup(s, c == 0250 ? -1 : static_cast<int>(b), payload));
        continue;
      case Sizing::setting:
        if (c >= 0374 && c <= 0376) {
          expected_type = static_cast<std::uint8_t>(c - 0373);
          continue;
        }
        QOVRIN_TRY(applySetting(s, c, b, length, lock_class));
        continue;
    }
  }
  return length;
}

}  // namespace

qovrin::Result<std::int64_t> calcSizeWithContext(X86Instruction& ins, const X86SizeContext& context) {
  if (!ins.template_present || ins.template_index >= tables::kTemplateCount) return fail(Error::MissingTemplate);
  const std::span<const std::uint8_t> program = programFor(ins);
  if (program.empty()) return fail(Error::MissingBytecode);

  ins.operand_bits = ins.mode_bits == 16 ? 16 : 32;
  ins.v_register = 0;
  ins.v_immediate = 0;
  ins.map = 0;
  ins.vex_params = 0;
  ins.tuple = 0;
  ins.forced = {};
  ins.rex = 0;
  ins.evex = 0;
  ins.ea_rex = 0;
  ins.ea = {};

  Sizer s{ins, context, TemplateRef{ins.template_index}};
  std::uint8_t lock_class = 0;
  const auto body = walkProgram(s, program, lock_class);
  if (!body) return fail(body.error());

  QOVRIN_TRY(settleRexAndSelector(ins));
  const auto prefix_bytes = encodingPrefixLength(ins, s.chosen, context);
  if (!prefix_bytes) return fail(prefix_bytes.error());
  checkPrefixUse(ins, s.chosen, context, lock_class);
  const auto legacy = legacyPrefixLength(ins);
  if (!legacy) return fail(legacy.error());
  return *body + *prefix_bytes + *legacy;
}

}  // namespace x86_encoder::size
