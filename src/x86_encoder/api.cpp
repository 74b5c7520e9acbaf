#include "x86_encoder/api.hpp"

#include <array>

#include "x86_encoder/encode.hpp"
#include "x86_encoder/evex_checks.hpp"
#include "x86_encoder/instruction.hpp"
#include "x86_encoder/match.hpp"
#include "x86_encoder/match_memo.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/operand_pairs.hpp"
#include "x86_encoder/operand_parse.hpp"
#include "x86_encoder/operand_text.hpp"
#include "x86_encoder/size.hpp"
#include "x86_encoder/tables.hpp"
#include "x86_encoder/types.hpp"

namespace x86_encoder::api {

using qovrin::Error;
using qovrin::fail;

namespace {

struct PrefixWord {
  std::string_view word;
  std::uint32_t code;
};

constexpr std::array<PrefixWord, 18> kStandalonePrefixes{{
    {"rep", kPrefixRep},
    {"lock", kPrefixLock},
    {"wait", kPrefixWait},
    {"repe", kPrefixRepe},
    {"repz", kPrefixRepz},
    {"repne", kPrefixRepne},
    {"repnz", kPrefixRepnz},
    {"xacquire", kPrefixXacquire},
    {"xrelease", kPrefixXrelease},
    {"bnd", kPrefixBnd},
    {"nobnd", kPrefixNobnd},
    {"osp", kPrefixOsp},
    {"o16", kPrefixO16},
    {"o32", kPrefixO32},
    {"o64", kPrefixO64},
    {"a16", kPrefixA16},
    {"a32", kPrefixA32},
    {"a64", kPrefixA64},
}};

constexpr std::array<std::uint32_t, 8> kRepCodes{
    0, kPrefixRep, kPrefixRepe, kPrefixRepne, kPrefixXacquire, kPrefixXrelease, kPrefixBnd, kPrefixNobnd};
constexpr std::array<std::uint32_t, 5> kOperandSizeCodes{0, kPrefixOsp, kPrefixO16, kPrefixO32, kPrefixO64};
constexpr std::array<std::uint32_t, 4> kAddressSizeCodes{0, kPrefixA16, kPrefixA32, kPrefixA64};
constexpr std::array<std::uint32_t, 7> kEncodingCodes{0,          kSelectRex,  kSelectRex2, kSelectEvex,
                                                      kSelectVex, kSelectVex2, kSelectVex3};

constexpr std::string_view kMnemonicBlanks = " \t\r\n";

qovrin::Status standalonePrefix(encode::OwnedEncodeResult& result, std::string_view word,
                                const X86EncodeOptions& options) {
  std::uint32_t code = 0;
  for (const PrefixWord& prefix : kStandalonePrefixes)
    if (qovrin::equalsIgnoreCase(prefix.word, word)) {
      code = prefix.code;
      break;
    }
  if (code == 0) {
    const auto segment = segmentPrefixValueByName(word);
    if (!segment) return fail(Error::UnsupportedMnemonic);
    code = static_cast<std::uint32_t>(*segment);
  }
  // One byte is written, so the prefix words in front would be lost.
  if ((options.lock & 1) != 0 || (options.rep & 7) != 0) return fail(Error::UnsupportedPrefixes);
  const std::int32_t byte = types::prefixByte(code, options.bits);
  if (byte == types::kNotAPrefix || byte == types::kEncodingChoice) return fail(Error::InvalidPrefixEncoding);
  if (byte == types::kInvalidInMode) return fail(types::invalidInModeError(code));
  if (byte == types::kNoPrefixByte) return {};
  result.offset = options.offset;
  result.instruction_size = 1;
  result.mode_bits = options.bits;
  const std::array<std::uint8_t, 1> bytes{static_cast<std::uint8_t>(byte)};
  if (auto status = result.outRawdata(bytes, "standalone legacy prefix", 0); !status) {
    result.deinit();
    return status;
  }
  return {};
}

// "{rn-sae}", "{sae}", ... alone: the rounding of the operand before.
qovrin::Result<bool> attachRoundingOnly(X86Instruction& ins, std::string_view text, std::size_t parsed) {
  std::string_view rest = trimOperandText(text);
  if (rest.empty() || rest.front() != '{') return false;
  if (parsed == 0) return fail(Error::UnsupportedOperandSyntax);
  X86Operand& target = ins.operands[parsed - 1];
  while (!rest.empty()) {
    const std::size_t close = findChar(rest, '}');
    if (rest.front() != '{' || close == std::string_view::npos) return fail(Error::UnsupportedOperandSyntax);
    const std::string_view word = trimOperandText(rest.substr(1, close - 1));
    constexpr std::array<std::string_view, 5> kWords{"rn-sae", "rd-sae", "ru-sae", "rz-sae", "sae"};
    std::size_t found = kWords.size();
    for (std::size_t index = 0; index < kWords.size(); ++index)
      if (qovrin::equalsIgnoreCase(kWords[index], word)) found = index;
    if (found == kWords.size()) return fail(Error::UnsupportedOperandSyntax);
    target.decorators |= found == 4 ? kDecoratorSae : kDecoratorRounding;
    ins.rounding = kRoundingFirst + static_cast<std::uint32_t>(found);
    rest = trimOperandText(rest.substr(close + 1));
  }
  ins.broadcast_operand = static_cast<std::uint8_t>(parsed - 1);
  ins.broadcast_present = true;
  return true;
}

// Every line reads its operands once, in its one caller: kept there, the
// record is filled where it lives instead of through a call.
[[gnu::always_inline]] inline qovrin::Status parseOperands(X86Instruction& ins, std::span<const std::string_view> texts, bool jump_or_call,
                             const X86ExpressionResolver& resolver) {
  std::size_t parsed = 0;
  const auto pushPair = [&ins, &parsed](const OperandPair& pair) -> qovrin::Status {
    if (parsed + 2 > kMaxOperands) return fail(Error::UnsupportedOperands);
    ins.operands[parsed++] = pair.first;
    ins.operands[parsed++] = pair.second;
    return {};
  };
  for (const std::string_view text : texts) {
    // Far pointers and register pairs are the only two-operand texts, and
    // both hold a colon; a rounding-only text starts with a brace. The
    // registers and numbers that make most operands hold neither.
    const std::string_view word = trimOperandText(text);
    const bool plain = isPlainOperandWord(word) || readsAsPlainWord(word);
    if (!plain) {
      const bool colon = findChar(text, ':') != std::string_view::npos;
      if (jump_or_call && colon) {
        const auto far = parseFarPointerOperands(text, resolver);
        if (!far) return fail(far.error());
        if (*far) {
          QOVRIN_TRY(pushPair(**far));
          continue;
        }
      }
      if (const auto pair = colon ? parseRegisterPair(trimOperandText(text)) : std::nullopt) {
        QOVRIN_TRY(pushPair(*pair));
        continue;
      }
      const auto rounding = attachRoundingOnly(ins, text, parsed);
      if (!rounding) return fail(rounding.error());
      if (*rounding) continue;
    }
    if (parsed == kMaxOperands) return fail(Error::UnsupportedOperands);
    // A fresh record: a failing operand fails the whole instruction.
    X86Operand& operand = ins.operands[parsed];
    operand = X86Operand{};
    QOVRIN_TRY(plain ? fillPlainOperandWord(word, resolver, operand) : fillOperandText(ins, text, resolver, operand));
    if (operand.ea_flags & kEaRel) ins.rel_written = true;
    if (operand.flags & (kNear | kShort)) ins.option_flags |= kOptionNoJcc8 | kOptionNoJmp8;
    if (operand.decorators & (kDecoratorBroadcast | kDecoratorRounding | kDecoratorSae)) {
      ins.broadcast_operand = static_cast<std::uint8_t>(parsed);
      ins.broadcast_present = true;
    }
    ++parsed;
  }
  ins.operand_count = static_cast<std::uint8_t>(parsed);
  return {};
}

std::uint64_t registerFlags(std::int32_t id) noexcept {
  const tables::RegisterRow* row = tables::registerById(id);
  return row == nullptr ? 0 : row->flags;
}

bool isQwordGeneral(const X86Operand& operand) noexcept {
  if (operand.kind == OperandKind::memory) return (operand.flags & kSizeQword) != 0;
  if (operand.kind != OperandKind::reg) return false;
  const std::uint64_t flags = registerFlags(operand.base);
  return (flags & kGeneralPurposeClass) && (flags & kSizeQword);
}

qovrin::Status fixOperands(X86Instruction& ins, const X86EncodeOptions& options) {
  using namespace tables;
  const std::uint16_t opcode = ins.opcode;
  const unsigned count = ins.operand_count;
  if (count == 2 &&
      (opcode == kMnemonicAadd || opcode == kMnemonicAand || opcode == kMnemonicAor || opcode == kMnemonicAxor)) {
    X86Operand& memory = ins.operands[0];
    const X86Operand& reg = ins.operands[1];
    const std::uint64_t reg_flags = reg.kind == OperandKind::reg ? registerFlags(reg.base) : 0;
    if (memory.kind == OperandKind::memory && (memory.flags & kSizeMask) == 0 && (reg_flags & kGeneralPurposeClass) &&
        (reg_flags & (kSizeDword | kSizeQword)))
      memory.flags |= reg_flags & (kSizeDword | kSizeQword);
  }
  if (opcode == kMnemonicJmp || opcode == kMnemonicCall) {
    for (unsigned i = 0; i < count; ++i) {
      X86Operand& operand = ins.operands[i];
      if (operand.kind != OperandKind::memory) continue;
      const bool no_registers = operand.base == kNone && (operand.index == kNone || operand.scale == 0);
      const bool absolute = (operand.ea_flags & kEaAbs) || (operand.flags & kAbs);
      if (ins.mode_bits == 64 && no_registers && !absolute && (options.default_rel & 1 || operand.ea_flags & kEaRel))
        operand.rip_relative = true;
      operand.flags &= ~kClassImmediate;
    }
  }
  if (count == 1 && ins.operands[0].kind == OperandKind::immediate &&
      (ins.operands[0].flags & (kFar | kNear | kShort | kStrict)) == 0 && match::hasRelaxableJump(opcode)) {
    X86Operand& target = ins.operands[0];
    const bool guard = options.near_jump_guard != nullptr && (*options.near_jump_guard & 1) == 0 &&
                       (options.jump_form_a & 1) && (options.jump_form_b & 1);
    // A literal target is an address; its distance is only known once the
    // instruction is placed, so it takes the form that reaches everywhere.
    const bool literal = !target.symbolic && (target.value_flags & kValueUnknown) == 0 && target.segment == kNone;
    if (guard || literal) {
      target.flags |= kNear;
      ins.option_flags |= kOptionNoJcc8 | kOptionNoJmp8;
    }
  }
  if (count == 2 && opcode == kMnemonicCmp && ins.mode_bits == 64) {
    for (unsigned i = 0; i < 2; ++i) {
      const X86Operand& immediate = ins.operands[i];
      const X86Operand& other = ins.operands[1 - i];
      if (immediate.kind != OperandKind::immediate || (immediate.value_flags & kValueUnknown)) continue;
      if (isQwordGeneral(other) && (immediate.value < INT32_MIN || immediate.value > INT32_MAX))
        return fail(Error::CmpR64ImmediateOutOfRange);
    }
  }
  return {};
}

constexpr std::uint8_t kAddress16 = 1;
constexpr std::uint8_t kAddress32 = 2;
constexpr std::uint8_t kAddress64 = 4;

std::uint8_t addressClassOf(std::int32_t id) noexcept {
  const std::uint64_t flags = registerFlags(id);
  if (!(flags & kGeneralPurposeClass)) return kAddress16 | kAddress32 | kAddress64;
  if (flags & kSizeWord) return kAddress16;
  if (flags & kSizeDword) return kAddress32;
  if (flags & kSizeQword) return kAddress64;
  return kAddress16 | kAddress32 | kAddress64;
}

std::uint8_t addressBitsClass(unsigned bits) noexcept {
  return bits == 16 ? kAddress16 : bits == 32 ? kAddress32 : bits == 64 ? kAddress64 : 0;
}

qovrin::Status chooseAddressSize(X86Instruction& ins) {
  const bool long_mode = ins.mode_bits == 64;
  std::uint8_t allowed = long_mode ? (kAddress32 | kAddress64) : (kAddress16 | kAddress32);
  switch (ins.prefix(PrefixSlot::address_size)) {
    case kPrefixA16:
      allowed &= kAddress16;
      break;
    case kPrefixA32:
      allowed &= kAddress32;
      break;
    case kPrefixA64:
      allowed &= kAddress64;
      break;
    case kPrefixAsp:
      allowed &= ins.mode_bits == 32 ? kAddress16 : kAddress32;
      break;
    default:
      break;
  }
  for (unsigned i = 0; i < ins.operand_count; ++i) {
    const X86Operand& operand = ins.operands[i];
    if (operand.kind != OperandKind::memory) continue;
    const bool has_index = operand.index != kNone && operand.scale != 0;
    if (operand.base != kNone) allowed &= addressClassOf(operand.base);
    if (has_index) allowed &= addressClassOf(operand.index);
    if (operand.base == kNone && !has_index &&
        ((!long_mode && operand.address_bits > 8) || (long_mode && operand.address_bits == 16)))
      allowed &= addressBitsClass(operand.address_bits);
  }
  const std::uint8_t own = addressBitsClass(ins.mode_bits);
  const std::uint8_t other = ins.mode_bits == 32 ? kAddress16 : kAddress32;
  if (allowed & own) {
    ins.address_bits = ins.mode_bits;
  } else if (allowed & other) {
    ins.address_bits = ins.mode_bits == 32 ? 16 : 32;
    ins.prefix(PrefixSlot::address_size) = ins.mode_bits == 32 ? kPrefixA16 : kPrefixA32;
  } else {
    return fail(Error::ImpossibleAddressSize);
  }
  constexpr std::uint64_t kDirectOffset = 0x4000C;
  for (unsigned i = 0; i < ins.operand_count; ++i) {
    X86Operand& operand = ins.operands[i];
    if ((operand.flags & kDirectOffset) != kDirectOffset) continue;
    const unsigned bits = operand.address_bits != 0 ? operand.address_bits : (ins.address_bits == 16 ? 16 : 32);
    if (bits != ins.address_bits) operand.flags &= ~kMemoryDirectOffset;
  }
  return {};
}

std::uint8_t operandBitsOf(std::uint32_t slot, std::uint8_t mode_bits) noexcept {
  switch (slot) {
    case kPrefixO16:
      return 16;
    case kPrefixO32:
      return 32;
    case kPrefixO64:
      return 64;
    case kPrefixOsp:
      return mode_bits == 16 ? 32 : 16;
    default:
      return mode_bits == 16 ? 16 : 32;
  }
}

// Why no template took the line. Kept apart from the match, which every line
// takes, so that the match stays small enough to be inlined.
[[gnu::noinline, gnu::cold]] qovrin::Status refuseMatch(const X86Instruction& ins, std::uint32_t grade) {
  if (grade == match::kMatchSizeMissing) return fail(Error::AmbiguousMemorySize);
  if (grade == match::kMatchBndRefused || grade == match::kMatchRepneBeforeBranch)
    return fail(Error::UnsupportedPrefixes);
  X86Instruction retry = ins;
  bool unknown = false;
  for (unsigned i = 0; i < retry.operand_count; ++i) {
    X86Operand& operand = retry.operands[i];
    if (operand.kind == OperandKind::immediate && (operand.value_flags & kValueUnknown)) {
      operand.flags |= kImmediateSmall | kClassImmediate;
      unknown = true;
    }
  }
  if (unknown && match::findMatch(retry) >= match::kMatchSuccess) return fail(Error::SymbolicSubByteImmediate);
  return fail(Error::NoMatchingTemplate);
}

qovrin::Status matchTemplate(X86Instruction& ins, match::MatchMemo* memo) {
  const std::uint32_t grade = memo != nullptr ? match::findMatchRemembered(ins, *memo) : match::findMatch(ins);
  if (grade >= match::kMatchSuccess) return {};
  return refuseMatch(ins, grade);
}

// A form the processor refuses with these operands, or reads otherwise.
qovrin::Status refuseUnrunnable(const X86Instruction& ins, const X86EncodeOptions& options) {
  using evex_checks::Reason;
  const evex_checks::Refusal refusal = evex_checks::check(ins);
  if (refusal.reason == Reason::none) return {};
  if (options.refusal != nullptr) *options.refusal = refusal;
  switch (refusal.reason) {
    case Reason::destination_is_source:
      return fail(Error::InvalidRegisterOperand);
    case Reason::qword_integer_outside_64:
      return fail(Error::InvalidOperandSize);
    default:
      return fail(Error::InvalidEvexOperand);
  }
}

// 'rel' asks for the address relative to the next instruction, which only an
// address of no register that moves with the code has. Elsewhere the bytes
// are those of the plain address, and the line is told, as nasm tells it.
void warnDroppedRel(encode::OwnedEncodeResult& result, const X86Instruction& ins) {
  if (ins.mode_bits != 64 || !ins.rel_written) return;
  for (std::size_t slot = 0; slot < ins.operand_count; ++slot) {
    const X86Operand& operand = ins.operands[slot];
    if (operand.kind != OperandKind::memory || (operand.ea_flags & kEaRel) == 0) continue;
    if (operand.base != kNone || (operand.index != kNone && operand.scale != 0)) {
      result.warn("'rel' is dropped: an address with a register cannot be RIP-relative");
      continue;
    }
    const bool relocatable = operand.segment != kNone || operand.symbol != kNone ||
                             (operand.value_flags & kValueSelfRelative) || operand.symbolic;
    if (!relocatable && !ins.keep_rip)
      result.warn("'rel' is dropped: an absolute address cannot be RIP-relative");
  }
}

qovrin::Status encodeInstruction(encode::OwnedEncodeResult& result, std::uint16_t opcode,
                                 std::span<const std::string_view> operands, const X86EncodeOptions& options,
                                 const X86ExpressionResolver& resolver) {
  if (operands.size() > kMaxOperands) return fail(Error::UnsupportedOperands);
  X86Instruction ins{LeaveOperandsUnset{}};
  ins.offset = options.offset;
  ins.opcode = opcode;
  ins.mode_bits = options.bits;
  ins.operand_bits = options.bits == 16 ? 16 : 32;
  ins.default_rel = (options.default_rel & 1) != 0;
  if (options.segment_override != ~0u) ins.prefix(PrefixSlot::segment) = options.segment_override;
  if (options.lock & 1) ins.prefix(PrefixSlot::lock) = kPrefixLock;
  ins.prefix(PrefixSlot::rep) = kRepCodes[options.rep & 7];
  if (options.operand_size >= kOperandSizeCodes.size()) return fail(Error::InvalidOperandSize);
  ins.prefix(PrefixSlot::operand_size) = kOperandSizeCodes[options.operand_size];
  ins.prefix(PrefixSlot::address_size) = kAddressSizeCodes[options.address_size & 3];
  if ((options.encoding & 7) >= kEncodingCodes.size()) return fail(Error::InvalidPrefixEncoding);
  ins.prefix(PrefixSlot::encoding) = kEncodingCodes[options.encoding & 7];
  if (options.marker_370 & 1) ins.prefix(PrefixSlot::marker_370) = kMarker370;
  if (options.marker_371 & 1) ins.prefix(PrefixSlot::marker_371) = kMarker371;
  if (options.encoding_nibble != 0) ins.vex_params = options.encoding_nibble & 0xF;

  const bool jump_or_call = opcode == tables::kMnemonicJmp || opcode == tables::kMnemonicCall;
  QOVRIN_TRY(parseOperands(ins, operands, jump_or_call, resolver));
  QOVRIN_TRY(fixOperands(ins, options));
  QOVRIN_TRY(chooseAddressSize(ins));
  ins.operand_bits = operandBitsOf(ins.prefix(PrefixSlot::operand_size), ins.mode_bits);
  QOVRIN_TRY(matchTemplate(ins, options.match_memo));
  if (!ins.template_present) return fail(Error::MissingTemplate);
  QOVRIN_TRY(refuseUnrunnable(ins, options));

  size::PrefixCounters counters{};
  size::X86SizeContext context{&counters, ins.mode_bits == 64, true, true, (options.rep & 7) == 6};
  const auto length = size::calcSizeWithContext(ins, context);
  if (!length) return fail(length.error());
  for (std::size_t counter = 1; counter <= 4; ++counter)
    if (counters[counter] != 0) return fail(Error::UnsupportedPrefixes);
  if (*length < 0) return fail(Error::NegativeInstructionSize);
  QOVRIN_TRY(encode::gencode(result, ins, *length));
  warnDroppedRel(result, ins);
  return {};
}

}  // namespace

qovrin::Status encodeBuiltinUnitsWithResolver(encode::OwnedEncodeResult& result, std::string_view mnemonic,
                                              std::span<const std::string_view> operands,
                                              const X86EncodeOptions& options, const X86ExpressionResolver& resolver) {
  result.deinit();
  if (options.bits != 16 && options.bits != 32 && options.bits != 64) return fail(Error::InvalidModeBits);
  // Every blank sorts below '!', so a mnemonic with other signs at both ends
  // needs no trimming; the encode pass hands mnemonics over that way.
  const bool bare = !mnemonic.empty() && mnemonic.front() > ' ' && mnemonic.back() > ' ';
  const std::string_view name = bare ? mnemonic : qovrin::trim(mnemonic, kMnemonicBlanks);
  const auto opcode = tables::findMnemonic(name);
  qovrin::Status status;
  if (!opcode)
    status = operands.empty() ? standalonePrefix(result, name, options) : fail(Error::UnsupportedMnemonic);
  else
    status = encodeInstruction(result, *opcode, operands, options, resolver);
  if (!status) result.deinit();
  return status;
}

}  // namespace x86_encoder::api
