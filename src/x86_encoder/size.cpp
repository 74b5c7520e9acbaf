#include "x86_encoder/size.hpp"

#include "x86_encoder/size_prefixes.hpp"

#include "x86_encoder/bytecode.hpp"
#include "x86_encoder/effective_address.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/regs.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::size {

using namespace api;
using bytecode::BytecodeCursor;
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

qovrin::Status applyVexSetup(Sizer& s, int v_operand, BytecodeCursor& cursor) {
  const auto map = cursor.consumeRequiredByte();
  if (!map) return fail(map.error());
  const auto params = cursor.consumeRequiredByte();
  if (!params) return fail(params.error());
  s.ins.map = *map;
  s.ins.vex_params = *params;
  s.ins.rex |= kRexVex;
  return s.takeV(v_operand);
}

qovrin::Status applyEvexSetup(Sizer& s, int v_operand, BytecodeCursor& cursor) {
  std::uint32_t word = 0x62;
  for (unsigned index = 0; index < 3; ++index) {
    const auto byte = cursor.consumeRequiredByte();
    if (!byte) return fail(byte.error());
    word |= static_cast<std::uint32_t>(*byte) << (8 * (index + 1));
  }
  const auto tuple = cursor.consumeRequiredByte();
  if (!tuple) return fail(tuple.error());
  if (*tuple < 0300 || *tuple > 0300 + 16) return fail(Error::InvalidEvexTupleType);
  s.ins.evex = word;
  s.ins.map = static_cast<std::uint8_t>(0x80 | ((word >> 8) & 7));
  s.ins.tuple = static_cast<std::uint8_t>(*tuple - 0300);
  s.ins.vex_params = 0;
  s.ins.rex |= kRexEvex;
  return s.takeV(v_operand);
}

qovrin::Result<std::int64_t> walkProgram(Sizer& s, std::span<const std::uint8_t> program, std::uint8_t& lock_class) {
  X86Instruction& ins = s.ins;
  BytecodeCursor cursor{program};
  std::int64_t length = 0;
  std::int32_t mib_index = kNone;
  std::uint8_t expected_type = kEaScalar;
  OperandBump bump;
  while (!cursor.atEnd()) {
    const std::uint8_t c = program[cursor.position++];
    const OperandBump current = bump;
    bump = {};
    // Worked out only by the codes that name operands.
    const auto b = [current, c] { return current.primary(c); };
    const auto a = [current, c] { return current.secondary(c); };
    if (c == 0) break;
    if (c <= 04) {
      if (program.size() - cursor.position < c) return fail(Error::MissingPayload);
      cursor.position += c;
      length += c;
      continue;
    }
    if (c <= 07) {
      bump.code = c;
      continue;
    }
    if (c < 0100) {
      QOVRIN_TRY(s.needOperand(b()));
      const X86Operand& operand = ins.operands[b()];
      switch (c & ~3u) {
        case 010: {
          const auto payload = cursor.consumeRequiredByte();
          if (!payload) return fail(payload.error());
          ins.rex |= ea::opRexflags(operand, ea::kBaseFieldMask);
          length += 1;
          break;
        }
        case 014:
          mib_index = operand.base;
          break;
        case 020:
        case 024:
        case 050:
          length += 1;
          break;
        case 030:
        case 060:
        case 074:
          length += 2;
          break;
        case 034:
        case 064:
          length += wordOrDwordWidth(operand, ins.operand_bits);
          break;
        case 040:
        case 070:
          length += 4;
          break;
        case 044:
          length += ins.address_bits / 8;
          break;
        case 054:
          length += 8;
          break;
        default:
          break;
      }
      continue;
    }
    if (c < 0140 || (c >= 0200 && c < 0240)) {
      EaRequest request;
      if (c < 0140) {
        const unsigned reg = (c & 7u) + ((current.code & 1u) ? 4u : 0u);
        QOVRIN_TRY(s.needOperand(reg));
        request.reg_operand = static_cast<std::int32_t>(reg);
      } else {
        request.digit = c & 7u;
      }
      QOVRIN_TRY(s.needOperand(a()));
      request.ea_operand = static_cast<std::uint8_t>(a());
      request.mib_index = mib_index;
      request.expected_type = expected_type;
      const auto size = applyEaBytecode(ins, s.chosen, request);
      if (!size) return fail(size.error());
      length += *size;
      expected_type = kEaScalar;
      continue;
    }
    switch (c) {
      case 0171: {
        const auto m = cursor.consumeRequiredByte();
        if (!m) return fail(m.error());
        const unsigned reg = ((*m >> 3) & 3u) + ((current.code & 2u) ? 4u : 0u);
        QOVRIN_TRY(s.needOperand(reg));
        ins.rex |= ea::opRexflags(ins.operands[reg], ea::kRegFieldMask);
        length += 1;
        break;
      }
      case 0172:
      case 0173:
        if (const auto payload = cursor.consumeRequiredByte(); !payload) return fail(payload.error());
        length += 1;
        break;
      case 0174:
      case 0175:
      case 0176:
      case 0177:
        QOVRIN_TRY(s.needOperand(b()));
        length += 1;
        break;
      case 0240:
      case 0241:
      case 0242:
      case 0243:
        QOVRIN_TRY(applyEvexSetup(s, static_cast<int>(b()), cursor));
        break;
      case 0250:
        QOVRIN_TRY(applyEvexSetup(s, -1, cursor));
        break;
      case 0254:
      case 0255:
      case 0256:
      case 0257:
      case 0264:
      case 0265:
      case 0266:
      case 0267:
        QOVRIN_TRY(s.needOperand(b()));
        length += 4;
        break;
      case 0260:
      case 0261:
      case 0262:
      case 0263:
        QOVRIN_TRY(applyVexSetup(s, static_cast<int>(b()), cursor));
        break;
      case 0270:
        QOVRIN_TRY(applyVexSetup(s, -1, cursor));
        break;
      case 0271:
      case 0272:
      case 0273:
        lock_class = static_cast<std::uint8_t>(c - 0270);
        break;
      case 0274:
      case 0275:
      case 0276:
      case 0277:
      case 0300:
      case 0301:
      case 0302:
      case 0303:
        QOVRIN_TRY(s.needOperand(b()));
        length += 1;
        break;
      case 0304:
      case 0305:
      case 0306:
      case 0307:
        QOVRIN_TRY(s.needOperand(b()));
        for (int payload = 0; payload < 2; ++payload)
          if (const auto byte = cursor.consumeRequiredByte(); !byte) return fail(byte.error());
        length += 1;
        break;
      case 0310:
        QOVRIN_TRY(s.addressSize(16));
        break;
      case 0311:
        QOVRIN_TRY(s.addressSize(32));
        break;
      case 0313:
        QOVRIN_TRY(s.addressSize(64));
        break;
      case 0320:
        QOVRIN_TRY(s.size16());
        break;
      case 0321:
        QOVRIN_TRY(s.size32());
        break;
      case 0323:
        QOVRIN_TRY(s.size64(false));
        break;
      case 0324:
        QOVRIN_TRY(s.size64(true));
        break;
      case 0325:
        ins.rex |= kRexNoHighByte;
        break;
      case 0327:
        if (ins.mode_bits == 64) {
          ins.rex |= kRexSize64NoW;
          if (ins.operand_bits == 32) ins.operand_bits = 64;
        }
        break;
      case 0330:
        QOVRIN_TRY(s.sizeFromPrefix());
        break;
      case 0331:
        ins.forced[static_cast<std::size_t>(PrefixSlot::rep)] = -1;
        break;
      case 0332:
        ins.forced[static_cast<std::size_t>(PrefixSlot::rep)] = 0xF2;
        break;
      case 0333:
        ins.forced[static_cast<std::size_t>(PrefixSlot::rep)] = 0xF3;
        break;
      case 0334:
        ins.rex |= kRexLockAsR;
        break;
      case 0336:
      case 0337:
        if (!(ins.option_flags & kOptionKeepSizePrefix)) s.suppress = c == 0336 ? 0x70 : 0x40;
        break;
      case 0340: {
        QOVRIN_TRY(s.needOperand(b()));
        const X86Operand& count_operand = ins.operands[b()];
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
        break;
      }
      case 0341:
        if (s.slot(PrefixSlot::wait) == 0) s.slot(PrefixSlot::wait) = kPrefixWait;
        break;
      case 0342:
        if (ins.mode_bits == 16)
          QOVRIN_TRY(s.size16());
        else if (ins.mode_bits == 32)
          QOVRIN_TRY(s.size32());
        else if (ins.mode_bits == 64)
          QOVRIN_TRY(s.size64(true));
        else
          return fail(Error::InvalidOperandSize);
        break;
      case 0344:
      case 0345:
      case 0346:
      case 0347:
        ins.rex |= kRexRequired | (1u << (c - 0344));
        break;
      case 0350:
        ins.rex |= kRexRex2 | kRexRequired;
        break;
      case 0351:
        ins.rex |= kRexRex2 | kRexRequired | kRexW;
        break;
      case 0355:
      case 0356:
      case 0357:
        ins.map = static_cast<std::uint8_t>(c - 0354);
        break;
      case 0360:
        ins.forced[static_cast<std::size_t>(PrefixSlot::operand_size)] = -1;
        ins.forced[static_cast<std::size_t>(PrefixSlot::rep)] = -1;
        break;
      case 0361:
        ins.forced[static_cast<std::size_t>(PrefixSlot::operand_size)] = 0x66;
        ins.forced[static_cast<std::size_t>(PrefixSlot::rep)] = -1;
        break;
      case 0364:
        ins.forced[static_cast<std::size_t>(PrefixSlot::operand_size)] = -1;
        break;
      case 0365:
        ins.forced[static_cast<std::size_t>(PrefixSlot::address_size)] = -1;
        break;
      case 0366:
        ins.forced[static_cast<std::size_t>(PrefixSlot::operand_size)] = 0x66;
        break;
      case 0367:
        ins.forced[static_cast<std::size_t>(PrefixSlot::address_size)] = 0x67;
        break;
      case 0371:
        if (s.slot(PrefixSlot::rep) == kPrefixBnd) {
          s.slot(PrefixSlot::rep) = 0;
          if (!ins.keep_bnd) count(s.context, PrefixCounter::bnd_dropped);
        }
        break;
      case 0373:
        length += 1;
        break;
      case 0374:
      case 0375:
      case 0376:
        expected_type = static_cast<std::uint8_t>(c - 0373);
        break;
      case 0312:
      case 0314:
      case 0315:
      case 0316:
      case 0317:
      case 0322:
      case 0326:
      case 0335:
      case 0370:
        break;
      default:
        return fail(Error::UnsupportedBytecode);
    }
  }
  return length;
}

}  // namespace

qovrin::Result<std::int64_t> calcSizeWithContext(X86Instruction& ins, const X86SizeContext& context) {
  if (!ins.template_present || ins.template_index >= tables::kTemplateCount) return fail(Error::MissingTemplate);
  const std::span<const std::uint8_t> program = programOf(ins.template_index);
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
