#include "frontend/encode/pass_x86.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <ranges>
#include <span>
#include <vector>

#include "common/ascii.hpp"
#include "common/little_endian.hpp"
#include "frontend/encode/x86_line.hpp"
#include "x86_encoder/api.hpp"

namespace frontend::pass {

using backend_adapter::FixupFact;
using backend_adapter::InstructionFacts;
using qovrin::Error;
using qovrin::fail;
using x86_encoder::encode::EncodeUnit;
using x86_encoder::encode::FixupKind;

namespace {

// Encoder errors that keep their own message; every other becomes
// UnsupportedX86Instruction.
Error mapEncoderError(Error error) noexcept {
  switch (error) {
    case Error::AmbiguousMemorySize:
    case Error::CmpR64ImmediateOutOfRange:
    case Error::HighRegisterNotAllowed:
    case Error::ImpossibleAddressSize:
    case Error::InvalidMemoryScale:
    case Error::InvalidRspIndexRegister:
    case Error::SymbolicSubByteImmediate:
    case Error::UnsupportedOperandSyntax:
    case Error::UnsupportedPrefixes:
    case Error::NestingTooDeep:
    case Error::OutOfMemory:
      return error;
    default:
      return Error::UnsupportedX86Instruction;
  }
}

bool isJumpOrCall(std::string_view mnemonic) noexcept {
  return qovrin::equalsIgnoreCase(mnemonic, "call") ||
         (mnemonic.size() >= 2 && qovrin::lowerAscii(mnemonic.front()) == 'j');
}

// The field's placeholder bytes, written over out, which is as wide as the
// field. A relative field holds its distance from the encoder's base,
// wrapped: the patch phase checks the true distance.
qovrin::Status writeFieldBytes(const EncodeUnit& unit, std::span<std::uint8_t> out) {
  if (unit.segment != x86_encoder::encode::kNoId || unit.symbol != x86_encoder::encode::kNoId ||
      unit.fixup == FixupKind::segment)
    return fail(Error::BackendOutputMaterializationFailed);
  std::int64_t value = unit.value;
  if (unit.fixup == FixupKind::relative) value = static_cast<std::int64_t>(static_cast<std::uint64_t>(unit.value) -
                                                                          static_cast<std::uint64_t>(unit.base));
  if (unit.width == 0 || unit.width > 8 || (unit.width & (unit.width - 1)) != 0)
    return fail(Error::InvalidBackendFixupWidth);
  qovrin::writeLittleEndian(out, static_cast<std::uint64_t>(value));
  return {};
}

// A literal branch target as fixup text: the value, or 0 plus a negative
// addend.
FixupFact literalFact(const EncodeUnit& unit, bool word_unsigned) {
  FixupFact fact;
  if (word_unsigned) {
    fact.text = std::to_string(static_cast<std::uint64_t>(unit.value));
    return fact;
  }
  fact.text = std::to_string(std::max<std::int64_t>(unit.value, 0));
  fact.addend = std::min<std::int64_t>(unit.value, 0);
  return fact;
}

// Where the processor wraps the address a branch reaches: at 64 bits in
// 64-bit code; elsewhere at the operand size, o16 and o32 forms included,
// which in 32-bit code cuts the address of a 16-bit branch.
fixup::PointerWidth pointerWidth(std::uint8_t mode_bits, std::uint8_t operand_bits) noexcept {
  using fixup::PointerWidth;
  if (mode_bits == 64) return PointerWidth::bits64;
  if (operand_bits == 16) return mode_bits == 32 ? PointerWidth::bits16_in_32 : PointerWidth::bits16;
  return PointerWidth::bits32;
}

qovrin::Status claimFact(const EncodeUnit& unit, const x86_encoder::encode::OwnedEncodeResult& result,
                         std::uint32_t offset, FixupFact& fact, bool literal) {
  std::int64_t addend = literal ? fact.addend : unit.value;
  if (unit.fixup == FixupKind::relative) {
    const std::int64_t end = std::int64_t{offset} + unit.width;
    std::int64_t distance = 0;
    if (__builtin_sub_overflow(end, unit.base, &distance)) return fail(Error::BackendFixupOffsetOverflow);
    // A literal target is a two's-complement word: moved by the field's
    // place against the instruction's end, it wraps as operand arithmetic
    // does, at 2^64.
    if (__builtin_add_overflow(addend, distance, &addend) && !literal) return fail(Error::BackendFixupOffsetOverflow);
  } else if (unit.fixup != FixupKind::absolute) {
    return fail(Error::UnsupportedBackendFixupKind);
  }
  if (unit.width == 0 || unit.width > 8) return fail(Error::InvalidBackendFixupWidth);
  fact.pc_relative = unit.fixup == FixupKind::relative;
  if (fact.pc_relative) fact.pointer_width = pointerWidth(result.mode_bits, result.operand_bits);
  fact.addend = addend;
  fact.offset = offset;
  fact.width = static_cast<std::uint16_t>(8 * unit.width);
  switch (unit.check) {
    case x86_encoder::encode::kCheckSigned:
      fact.range_policy = fixup::FixupRangePolicy::signed_value;
      break;
    case x86_encoder::encode::kCheckUnsigned:
      fact.range_policy = fixup::FixupRangePolicy::unsigned_value;
      break;
    case x86_encoder::encode::kCheckDisplacement:
      fact.range_policy = fixup::FixupRangePolicy::sign_extended;
      break;
    default:
      fact.range_policy = fixup::FixupRangePolicy::wrap;
      break;
  }
  return {};
}

// One pass writes every unit's bytes into room that no result outgrows;
// true when any field waits for a fact.
qovrin::Result<bool> writeUnitBytes(const x86_encoder::encode::OwnedEncodeResult& result, InstructionFacts& record) {
  std::array<std::uint8_t, x86_encoder::encode::kMaxUnits * x86_encoder::encode::kMaxUnitBytes> bytes;
  std::size_t at = 0;
  bool fields = false;
  for (const EncodeUnit& unit : result.units()) {
    if (unit.reserve_size != 0) return fail(Error::BackendOutputMaterializationFailed);
    if (unit.has_fixup) {
      // The field's own width test refuses any width past eight bytes.
      const std::size_t room = std::min<std::size_t>(unit.width, x86_encoder::encode::kMaxUnitBytes);
      QOVRIN_TRY(writeFieldBytes(unit, std::span(bytes).subspan(at, room)));
      at += unit.width;
      fields = true;
      continue;
    }
    // The unit's whole storage goes over at once, a copy of fixed size: what
    // lies past its bytes is written over by the next unit or never read.
    // x86_throughput.py --mix plain shows it; no figure was recorded.
    std::memcpy(bytes.data() + at, unit.storage.data(), unit.storage.size());
    at += unit.byte_count;
  }
  record.bytes.assignPrefix(bytes, at);
  record.size = static_cast<std::uint32_t>(at);
  for (const std::string_view warning : result.warnings()) record.warnings.push_back(warning);
  record.bounds_warning = result.bounds.warning;
  record.bounds_value = result.bounds.value;
  record.bounds_width = result.bounds.width;
  return fields;
}

// The resolver read the operands in order and recorded one fact for each
// value it could not fold, while the template may write their fields in
// another order (a far pointer's offset before its segment). The facts are
// put in the order of their fields, each field taking the fact of its own
// operand; false when the counts differ.
bool orderFactsByField(std::span<const EncodeUnit> units, std::vector<FixupFact>& facts) {
  std::array<std::uint8_t, x86_encoder::encode::kMaxUnits> operands;  // of the symbolic fields, in field order
  std::size_t count = 0;
  for (const EncodeUnit& unit : units)
    if (unit.has_fixup && unit.symbolic) operands[count++] = unit.operand;
  if (count != facts.size()) return false;
  const auto fields = std::span(operands).first(count);
  if (std::ranges::is_sorted(fields)) return true;
  std::vector<FixupFact> ordered;
  ordered.reserve(count);
  for (std::size_t field = 0; field < count; ++field) {
    // Its fact comes after those of the operands read before its own.
    const auto earlier = [&](std::size_t other) {
      return fields[other] < fields[field] || (fields[other] == fields[field] && other < field);
    };
    const std::size_t fact =
        static_cast<std::size_t>(std::ranges::count_if(std::views::iota(std::size_t{0}, count), earlier));
    ordered.push_back(std::move(facts[fact]));
  }
  facts = std::move(ordered);
  return true;
}

// A literal target's fact follows those of the resolver. Whether its word
// is shown unsigned is asked only of a line that has one.
template <typename WordsUnsigned>
qovrin::Status claimFacts(const x86_encoder::encode::OwnedEncodeResult& result, std::vector<FixupFact>&& facts,
                          InstructionFacts& record, const WordsUnsigned& words_unsigned) {
  if (!orderFactsByField(result.units(), facts)) return fail(Error::BackendFixupCountMismatch);
  std::size_t next = 0;
  std::uint32_t offset = 0;
  for (const EncodeUnit& unit : result.units()) {
    if (unit.has_fixup) {
      if (unit.symbolic) {
        QOVRIN_TRY(claimFact(unit, result, offset, facts[next++], false));
      } else if (unit.fixup == FixupKind::relative) {
        FixupFact fact = literalFact(unit, words_unsigned());
        QOVRIN_TRY(claimFact(unit, result, offset, fact, true));
        facts.push_back(std::move(fact));
      } else {
        return fail(Error::BackendFixupCountMismatch);
      }
    }
    offset += unit.has_fixup ? unit.width : unit.byte_count;
  }
  record.facts = std::move(facts);
  record.pending = !record.facts.empty();
  return {};
}

template <typename WordsUnsigned>
qovrin::Result<InstructionFacts> convertUnitsAsked(const x86_encoder::encode::OwnedEncodeResult& result,
                                                   std::vector<FixupFact>&& facts,
                                                   const WordsUnsigned& words_unsigned) {
  // Made where the caller receives it, every failure included: a record
  // moved right after its bytes were written would read them back before
  // the writes are done.
  qovrin::Result<InstructionFacts> made{std::in_place};
  const auto fields = writeUnitBytes(result, *made);
  if (!fields) {
    made = fail(fields.error());
  } else if (*fields || !facts.empty()) {
    if (const auto claimed = claimFacts(result, std::move(facts), *made, words_unsigned); !claimed)
      made = fail(claimed.error());
  }
  return made;
}

}  // namespace

qovrin::Result<InstructionFacts> convertUnits(const x86_encoder::encode::OwnedEncodeResult& result,
                                              std::vector<FixupFact>&& facts, bool words_unsigned) {
  return convertUnitsAsked(result, std::move(facts), [words_unsigned] { return words_unsigned; });
}

namespace {

qovrin::Status encodeUnits(const fragment::Instruction& line, x86_encoder::match::MatchMemo* memo,
                           x86_encoder::encode::OwnedEncodeResult& result, std::vector<FixupFact>& facts,
                           std::optional<FoldFailure>* fold_failure = nullptr,
                           x86_encoder::evex_checks::Refusal* refusal = nullptr) {
  x86_line::ParsedInstruction parsed;
  if (const auto split = x86_line::parseX86Line(line.text(), parsed); !split)
    return fail(split.error() == Error::InvalidInstructionText ? split.error() : Error::UnsupportedX86Instruction);
  backend_adapter::X86ResolverContext context{&facts, line.target, fold_failure};
  const x86_encoder::api::X86ExpressionResolver resolver{&context, &backend_adapter::unknownX86ExpressionResolver,
                                                         true};
  x86_encoder::api::X86EncodeOptions options;
  options.bits = static_cast<std::uint8_t>(line.target.parameter);
  options.lock = parsed.lock ? 1 : 0;
  options.rep = parsed.repeat;
  options.match_memo = memo;
  options.refusal = refusal;
  // A jump to a label takes the near form, whose displacement reaches any
  // target the patch phase may find. The form only changes how a lone
  // target the resolver could not fold is encoded, so asking for it up front
  // gives every other jump the bytes it would get anyway.
  static constexpr std::uint8_t kNearJumpSettings = 0;
  if (isJumpOrCall(parsed.mnemonic)) {
    options.near_jump_guard = &kNearJumpSettings;
    options.jump_form_a = 1;
    options.jump_form_b = 1;
  }
  const auto encoded =
      x86_encoder::api::encodeBuiltinUnitsWithResolver(result, parsed.mnemonic, parsed.operands(), options, resolver);
  if (!encoded) return fail(mapEncoderError(encoded.error()));
  return {};
}

}  // namespace

qovrin::Result<InstructionFacts> encodeX86(const fragment::Instruction& line, x86_encoder::match::MatchMemo* memo) {
  x86_encoder::encode::OwnedEncodeResult result;
  std::vector<FixupFact> facts;
  QOVRIN_TRY(encodeUnits(line, memo, result, facts));
  // Numbers are shown as the line writes them: below zero only after a
  // minus. Only a literal target or a value past its field is shown, so
  // only such a line is searched for one.
  const auto writes_minus = [&line] { return line.text().find('-') != std::string_view::npos; };
  auto made = convertUnitsAsked(result, std::move(facts), [&writes_minus] { return !writes_minus(); });
  if (made && made->bounds_width != 0) made->bounds_unsigned = !writes_minus();
  return made;
}

std::optional<FoldFailure> operandFoldFailure(const fragment::Instruction& line) {
  x86_encoder::encode::OwnedEncodeResult result;
  std::vector<FixupFact> facts;
  std::optional<FoldFailure> failure;
  if (encodeUnits(line, nullptr, result, facts, &failure)) return std::nullopt;
  return failure;
}

std::optional<std::uint64_t> encodedTemplate(const fragment::Instruction& line) {
  x86_encoder::encode::OwnedEncodeResult result;
  std::vector<FixupFact> facts;
  if (!encodeUnits(line, nullptr, result, facts) || !result.template_used) return std::nullopt;
  return result.template_index;
}

std::optional<x86_encoder::evex_checks::Refusal> encoderRefusal(const fragment::Instruction& line) {
  x86_encoder::encode::OwnedEncodeResult result;
  std::vector<FixupFact> facts;
  x86_encoder::evex_checks::Refusal refusal;
  if (encodeUnits(line, nullptr, result, facts, nullptr, &refusal) ||
      refusal.reason == x86_encoder::evex_checks::Reason::none)
    return std::nullopt;
  return refusal;
}

std::optional<std::string> encoderWarning(const fragment::Instruction& line) {
  x86_encoder::encode::OwnedEncodeResult result;
  std::vector<FixupFact> facts;
  if (!encodeUnits(line, nullptr, result, facts) || result.warnings().empty()) return std::nullopt;
  return std::string(result.warnings().front());
}

}  // namespace frontend::pass
