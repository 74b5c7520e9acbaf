#include "x86_encoder/match.hpp"

#include <array>
#include <bit>
#include <optional>
#include <span>

#include "x86_encoder/bytecode.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/size.hpp"

namespace x86_encoder::api {

SpeculativeSize BuiltinMatchContext::calcSizeSpeculative(const X86Instruction& instruction,
                                                         tables::TemplateRef candidate) {
  X86Instruction copy = instruction;
  copy.keep_bnd = true;
  copy.template_index = candidate.index;
  copy.template_present = true;
  copy.remembered_program = {};
  const auto size = size::calcSizeWithContext(copy, size::X86SizeContext{});
  if (!size) return {0, true};
  return {*size, false};
}

}  // namespace x86_encoder::api

namespace x86_encoder::match {

using namespace api;
using tables::Iflag;
using tables::TemplateRef;

namespace {

constexpr std::uint64_t kSizes = 0xF0FF'0000'0000;
constexpr std::uint64_t kClassIgnored = 0x1F'F0FF'0000'0000;
constexpr std::uint64_t kRegisterSetBits = 0x1F'0000'0000'0000;
constexpr std::uint64_t kByteRegOrMemClass = 0x1'0000'0004;
constexpr std::uint64_t kQwordRegClass = 0x8'0000'0001;

std::uint32_t word0(TemplateRef t) noexcept { return generated_match_tables::iflag_fields[t.row().iflags][0]; }

bool hasCode0324(TemplateRef t) noexcept {
  return bytecode::findCode(t.program(), [](std::uint8_t code) { return code == 0324; }) != 0;
}

bool isQwordRegByteRm(TemplateRef t) noexcept {
  return t.row().operand_count == 2 && (t.operandClass(0) & 0xFFFF'0000'0001) == kQwordRegClass &&
         (t.operandClass(1) & 0xFFFF'0000'0004) == kByteRegOrMemClass;
}

// Bytes of the single size bit among bits 32-39.
unsigned sizeBytes(std::uint64_t size) noexcept {
  static constexpr unsigned kBytes[] = {1, 2, 4, 8, 10, 16, 32, 64};
  if (size == 0) return 0;
  const int bit = std::countr_zero(size);
  return (bit >= 32 && bit < 40) ? kBytes[bit - 32] : 0;
}

// Without a population-count instruction in the target, std::popcount is a
// library call; a search asks this once per graded template.
constexpr bool severalBits(std::uint64_t word) noexcept { return (word & (word - 1)) != 0; }

bool isRegisterOperand(std::uint64_t flags) noexcept { return (flags & kClassRegister) != 0; }

std::uint32_t encodingClass(const X86Instruction& ins, TemplateRef t) {
  const std::uint32_t selector = ins.prefix(PrefixSlot::encoding);
  switch (selector) {
    case kSelectVex:
    case kSelectVex3:
    case kSelectVex2:
      return t.iflagTest(Iflag::kVex) ? kMatchGood : 15;
    case kSelectEvex:
      return t.iflagTest(Iflag::kEvex) ? kMatchGood : 15;
    case kSelectRex:
      return (t.iflagTest(Iflag::kNorex) || t.iflagTest(Iflag::kVex) || t.iflagTest(Iflag::kEvex) ||
              t.iflagTest(Iflag::kRex2))
                 ? 15
                 : kMatchGood;
    case kSelectRex2:
      return (t.iflagTest(Iflag::kNoapx) || t.iflagTest(Iflag::kEvex)) ? 15 : kMatchGood;
    default:
      if (t.iflagTest(Iflag::kVex) && !t.iflagTest(Iflag::kEvex)) {
        if (tables::kLateVexIflagRows.contains(t.row().iflags)) return 12;
        if (t.iflagTest(Iflag::kRex2) && ins.mode_bits != 64) return 12;
      }
      return kMatchGood;
  }
}

// A template that fixes the address size cannot take an address built from
// registers of another size ("enqcmd edx, [ebx]" must not pick the a16 form).
bool addressFits(const X86Instruction& ins, TemplateRef t) noexcept {
  const std::uint8_t fixed = t.traits().fixed_address_bits;
  if (fixed == 0 || fixed == ins.address_bits) return true;
  for (unsigned i = 0; i < ins.operand_count; ++i) {
    const X86Operand& operand = ins.operands[i];
    if (operand.kind == OperandKind::memory &&
        (operand.base != kNone || (operand.index != kNone && operand.scale != 0)))
      return false;
  }
  return true;
}

// Bits the grading may add to an operand before its class is compared.
constexpr std::uint64_t kGainedBits = kNear | kShort | kClassImmediate | kImmediateWordFitsSignedByte |
                                      kImmediateDwordFitsSignedByte | kImmediateFitsSigned32;

// What the operands offer every template, worked out once per search.
struct OperandSummary {
  // Class bits, with those grading may add; 0 past the operand count, where
  // a template of the same count demands nothing either.
  std::array<std::uint64_t, tables::kFilterSlots> classes{};
  // Per slot the exact size codes (TemplateFilter::sizes) the operand allows.
  std::uint64_t sizes = 0;
};

// The size code of a register or memory operand whose one size grading
// compares as written; an immediate's or a broadcast's size may still change.
std::uint8_t sizeCode(const X86Operand& operand) noexcept {
  if (operand.kind == OperandKind::immediate || (operand.decorators & kDecoratorBroadcast)) return 0;
  const std::uint64_t size = operand.flags & kSizes;
  if (size == 0 || (size & (size - 1)) != 0) return 0;
  const int code = std::countr_zero(size) - 31;
  return code < 16 ? static_cast<std::uint8_t>(code) : 0;
}

OperandSummary summarize(const X86Instruction& ins) noexcept {
  OperandSummary summary;
  for (unsigned i = 0; i < tables::kFilterSlots; ++i) {
    // An unsized operand, or a slot without one, allows every size code; a
    // sized one allows its own code and the templates that take any size.
    std::uint64_t allowed = 0xFFFF;
    if (i < ins.operand_count) {
      summary.classes[i] = ins.operands[i].flags | kGainedBits;
      if (const unsigned code = sizeCode(ins.operands[i]); code != 0) allowed = 1u | (1u << code);
    }
    summary.sizes |= allowed << (tables::kFilterSlotBits * i);
  }
  return summary;
}

// A template whose operand classes or exact sizes the operands cannot meet
// grades below success whatever the other tests say, so most templates are
// turned away here cheaply.
bool couldMatch(const X86Instruction& ins, const OperandSummary& summary, TemplateRef t) noexcept {
  const tables::TemplateFilter& filter = t.filter();
  if (filter.operand_count != ins.operand_count) return false;
  // Most templates a search turns away differ in their first operand.
  if (filter.demands[0] & ~summary.classes[0]) return false;
  std::uint64_t unmet = filter.sizes & ~summary.sizes;
  for (unsigned i = 1; i < tables::kFilterSlots; ++i) unmet |= filter.demands[i] & ~summary.classes[i];
  return unmet == 0;
}

// A relaxable jump form that the option flags refuse grades below success
// whatever the operands: jmpMatch turns it away. A jump to a label or to a
// literal address refuses every short form that way.
bool refusedJump(TemplateRef t, std::uint8_t refused) noexcept {
  if (!t.iflagTest(Iflag::kJmpRelax)) return false;
  const std::uint8_t jump_class = t.row().jump_class;
  if (jump_class == 0371) return (refused & kOptionNoJmp8) != 0;
  if (jump_class == 0370) return (refused & kOptionNoJcc8) != 0;
  return true;
}

// Per operand, the size a template asks of a memory operand written without
// one and left unsized by the template's own size flags.
using OpenSizes = std::array<std::uint64_t, kMaxOperands>;

// The operand size sizes the memory of a branch target or of a memory-only
// operand (descriptor tables): the instruction itself defines what lies
// there. Register-or-memory data, as pushed or popped, stays the writer's to
// size.
bool operandSizeFixes(const X86Operand& operand, std::uint64_t word, std::uint32_t w0) noexcept {
  const bool operand_size_rule = (w0 >> 19) & 1;
  return !operand_size_rule || operand.kind != OperandKind::memory || (word & (kClassMemory | kFar | kNear)) != 0;
}

std::uint32_t grade(const X86Instruction& ins, TemplateRef t, OpenSizes& open) {
  open.fill(0);
  const tables::TemplateRow& row = t.row();
  if (row.opcode != ins.opcode || row.operand_count != ins.operand_count || t.traits().superseded) return 0;
  if ((ins.option_flags & kOptionNoOptimize) && t.iflagTest(Iflag::kOpt)) return 0;
  if (const std::uint32_t r = encodingClass(ins, t); r != kMatchGood) return r;
  if (!addressFits(ins, t)) return 0;

  const unsigned count = ins.operand_count;
  const std::uint8_t operand_bits =
      (ins.mode_bits == 64 && ins.operand_bits == 32 && t.iflagTest(Iflag::kNwsize)) ? 64 : ins.operand_bits;
  const std::uint32_t w0 = word0(t);
  const bool sx = (w0 >> 22) & 1;
  const std::uint64_t z = ((w0 >> 19) & 1) ? (static_cast<std::uint64_t>(operand_bits) << 29)
                                           : (static_cast<std::uint64_t>((w0 >> 10) & 0xFF) << 32);
  const std::uint32_t m = w0 & 0x1F;
  const std::uint32_t any_size = w0 & 0x3E0;
  std::uint64_t c = kSizes;
  std::uint32_t missing = 0;
  bool size_match_sized = false;
  // One pass per operand: every test below looks at its own operand only,
  // besides c and missing, which gather over all of them for the size-match
  // test after the loop. Which failing grade comes first tells nothing: any
  // grade below success only turns the template away.
  for (unsigned i = 0; i < count; ++i) {
    const X86Operand& operand = ins.operands[i];
    const std::uint64_t word = t.operandClass(i);
    // An absolute address carries the immediate class bit for the plain-offset
    // forms; in brackets it is still never an immediate.
    if (operand.kind == OperandKind::memory && (word & kClassImmediate)) return 0;
    if (operand.flags & 0x30 & ~word) return 0;
    // A far target takes a far form or the segment of a pointer pair: a near
    // form would drop the segment.
    if ((operand.flags & kFar) && !(word & (kFar | kColon))) return 0;
    // A pointer pair is a far target, which no near or short branch reaches.
    if ((operand.flags & kColon) && (operand.flags & (kNear | kShort))) return 0;
    const std::uint32_t required = operand.required_iflag;
    if (required != 0 && (required >= tables::kIflagBitCount || !t.iflagTest(required))) return 20;

    std::uint64_t size = operand.flags & kSizes;
    std::uint64_t r = operand.flags & ~kSizes;
    std::uint64_t s = word & kSizes;
    if (operand.decorators & kDecoratorBroadcast) {
      const std::uint16_t decorators = t.operandDecorators(i);
      s = (static_cast<std::uint64_t>(decorators & 0xF00) << 24) & 0xF'0000'0000;
      if ((tables::kDecoratorRowsWithoutBroadcast >> row.operand_decorators[i]) & 1) return 5;
    }
    if (word & (kNear | kShort)) {
      if (size == kSizeByte) {
        size = 0;
        r |= kShort;
      }
      if (r & kShort) r &= ~kNear;
      if ((word & kNear) && (word & kShort) && !(r & (kFar | kAbs)))
        r |= kNear | kShort;
      else if (!(r & (kFar | kShort)))
        r |= word & kNear;
    }
    if ((word & kClassImmediate) && (r & kClassImmediate)) {
      if (size == kSizeByte && (word & (kImmediateWordFitsSignedByte | kImmediateDwordFitsSignedByte))) {
        size = s;
        r |= kImmediateWordFitsSignedByte | kImmediateDwordFitsSignedByte;
      } else if (size == kSizeDword && (word & (kImmediateFitsSigned32 | kImmediateFitsUnsigned32))) {
        size = s;
      }
      if (t.index != tables::kMovSdwordTemplate) r |= kClassImmediate | kImmediateFitsSigned32;
    }
    if (word & ~kClassIgnored & ~r) return 0;
    const std::uint16_t template_decorators = t.operandDecorators(i);
    if (operand.decorators & 0x0F & ~template_decorators) return 4;
    if (operand.decorators & 0xD0 & ~template_decorators) return 7;
    if (r & kRegisterSetBits & ~word) return tables::kRegisterSetOperandRows.contains(row.operand_classes[i]) ? 18 : 19;

    const bool reg = isRegisterOperand(r);
    const bool in_ar = (any_size >> (5 + i)) & 1;
    const bool in_m = (m >> i) & 1;
    if (!sx && size == 0) {
      if (reg && s != 0)
        size = s;
      else if (in_ar && operandSizeFixes(operand, word, w0))
        size = z;
    }
    if (size == 0 && s != 0 && operand.kind == OperandKind::memory && !(operand.decorators & kDecoratorBroadcast))
      open[i] = s;
    if (in_m && size != 0) size_match_sized = true;
    if (i < 3) {
      if (size != 0) {
        if (in_m) c &= size;
      } else if (s != 0 && !reg) {
        missing |= 1u << i;
      }
    }
    if (s != 0) {
      if (size != s) {
        if (in_ar && ((w0 >> 21) & 1)) {
          if (in_m) c &= s;
          continue;
        }
        if (in_ar && sx && !reg && open[i] == 0) return 1;
        if (size != 0) return reg ? 0 : 1;
      }
      if (in_m) c &= s;
    } else if (size != 0 && in_ar && sx) {
      return 1;
    }
    if (operand.decorators & kDecoratorBroadcast) {
      if (s == 0 || s > kSizeQword) return 6;
      const unsigned element = sizeBytes(s);
      const unsigned whole = sizeBytes(word & kSizes);
      const unsigned broadcast = 2u << ((operand.decorators & kBroadcastCountMask) >> kBroadcastCountShift);
      if (element == 0 || whole / element != broadcast) return 6;
    }
  }
  if (m != 0) {
    if (c == 0) return 3;
    if (severalBits(c) || (sx && (missing & m) == m)) return 2;
  }

  if (ins.mode_bits == 64 ? t.iflagTest(Iflag::kNolong) : t.iflagTest(Iflag::kLong)) return 13;
  const std::uint32_t rep = ins.prefix(PrefixSlot::rep);
  if (t.iflagTest(Iflag::kNohle) && (rep == kPrefixXacquire || rep == kPrefixXrelease)) return 14;
  if (ins.prefix(PrefixSlot::marker_370) == 0) {
    if (t.iflagTest(Iflag::kNfR)) return 11;
  } else if (!t.iflagTest(Iflag::kNf) && (t.iflagTest(Iflag::kFl) || (ins.option_flags & kOptionNoOptimize))) {
    return 10;
  }
  if (ins.prefix(PrefixSlot::marker_371) != 0) {
    if (!t.iflagTest(Iflag::kZu)) return 8;
    if (count == 0 || ins.operands[0].kind != OperandKind::reg) return 9;
  }
  const bool bnd_word = rep == kPrefixBnd || rep == kPrefixNobnd;
  if (!t.iflagTest(Iflag::kBnd) && bnd_word) return kMatchBndRefused;
  if (t.iflagTest(Iflag::kBnd) && (rep == kPrefixRepne || rep == kPrefixRepnz)) return kMatchRepneBeforeBranch;
  // A sized operand of the size-match set sizes the unsized ones in it.
  bool size_open = false;
  for (unsigned i = 0; i < count; ++i) {
    if (size_match_sized && ((m >> i) & 1)) open[i] = 0;
    size_open = size_open || open[i] != 0;
  }
  if (size_open) return kMatchSizeMissing;
  if (t.iflagTest(Iflag::kJmpRelax)) return jmpMatch(ins, t);
  return kMatchGood;
}

}  // namespace

bool shouldContinueExactOverrideSearch(TemplateRef candidate) noexcept { return candidate.traits().overridable; }

bool hasRelaxableJump(std::uint16_t opcode) noexcept {
  const tables::TemplateRange range = tables::templatesOf(opcode);
  for (std::uint32_t index = range.first; index < range.first + range.count; ++index)
    if (TemplateRef{index}.iflagTest(Iflag::kJmpRelax)) return true;
  return false;
}

std::uint32_t jmpMatch(const X86Instruction& ins, TemplateRef candidate) {
  if (ins.operand_count == 0) return 0;
  const X86Operand& target = ins.operands[0];
  if (target.flags & kStrict) return 0;
  if (ins.option_flags & (kOptionNoJcc8 | kOptionNoJmp8)) {
    const std::uint8_t jump_class = candidate.row().jump_class;
    if (jump_class == 0371) {
      if (ins.option_flags & kOptionNoJmp8) return 0;
    } else if (jump_class == 0370) {
      if (ins.option_flags & kOptionNoJcc8) return 0;
    } else {
      return 0;
    }
  }
  if (target.value_flags & kValueUnknown) return kMatchGood;
  if (target.segment != ins.segment) return 0;
  std::int64_t distance = 0;
  if (__builtin_sub_overflow(target.value, ins.offset, &distance)) return 0;
  if (distance < -126 || distance > 142) return 0;
  if (distance >= -113 && distance <= 129) return kMatchGood;
  const SpeculativeSize size = BuiltinMatchContext::calcSizeSpeculative(ins, candidate);
  if (size.failed) return 0;
  const std::int64_t reach = distance - size.size;
  return (reach >= -128 && reach <= 127) ? kMatchGood : 0;
}

namespace {

// The templates that the operands' shapes leave to try; nullopt when an
// operand has no shape or the mnemonic is scanned whole.
std::optional<std::span<const std::uint8_t>> shapeCandidates(const X86Instruction& ins) noexcept {
  std::uint16_t key = ins.operand_count;
  for (unsigned slot = 0; slot < tables::kShapeSlots; ++slot) {
    std::uint8_t shape = 0;
    if (slot < ins.operand_count) {
      const X86Operand& operand = ins.operands[slot];
      // Sized as the candidate filter sizes it: an immediate's or a
      // broadcast's size may still change.
      const bool sized = operand.kind != OperandKind::immediate && !(operand.decorators & kDecoratorBroadcast);
      shape = tables::operandShape(operand.flags, sized);
    }
    if (shape == tables::kNoShape) return std::nullopt;
    key = static_cast<std::uint16_t>((key << tables::kShapeBits) | shape);
  }
  return tables::shapeCandidates(ins.opcode, key);
}

// One pass over the mnemonic's templates, or over those its shape group
// holds. Gathers in `wanted`, per operand, the sizes that the templates
// failing only for an unsized memory operand ask for; templates that refuse
// unsized operands outright (SX) offer none.
std::uint32_t searchTemplates(X86Instruction& ins, OpenSizes& wanted, bool indexed) {
  ins.template_present = false;
  ins.template_index = 0;
  ins.template_position = ~0u;
  ins.remembered_program = {};
  const std::uint32_t selector = ins.prefix(PrefixSlot::encoding);
  if (ins.mode_bits != 64 && (selector == kSelectRex || selector == kSelectRex2)) return 15;
  const tables::TemplateRange range = tables::templatesOf(ins.opcode);
  if (ins.opcode >= tables::kMnemonicCount || range.empty()) return 0;

  std::uint32_t best = 0;
  bool found = false;
  TemplateRef best_template{0};
  std::uint32_t best_position = 0;
  const OperandSummary summary = summarize(ins);
  const std::uint8_t refused_jumps = ins.option_flags & (kOptionNoJcc8 | kOptionNoJmp8);
  const auto shaped = indexed ? shapeCandidates(ins) : std::nullopt;
  const std::uint32_t tried = shaped ? static_cast<std::uint32_t>(shaped->size()) : range.count;
  for (std::uint32_t attempt = 0; attempt < tried; ++attempt) {
    const std::uint32_t position = shaped ? (*shaped)[attempt] : attempt;
    const TemplateRef candidate{range.first + position};
    // Skipping a template that cannot succeed changes nothing: once an exact
    // match is held, only another exact match can end or change the search.
    if (!couldMatch(ins, summary, candidate)) continue;
    if (refused_jumps != 0 && refusedJump(candidate, refused_jumps)) continue;
    OpenSizes open;
    const std::uint32_t r = grade(ins, candidate, open);
    if (r == kMatchSizeMissing && !((word0(candidate) >> 22) & 1))
      for (unsigned i = 0; i < kMaxOperands; ++i) wanted[i] |= open[i];
    if (r > best) {
      best = r;
      found = true;
      best_template = candidate;
      best_position = position;
      if (r == kMatchGood && !shouldContinueExactOverrideSearch(candidate)) break;
    } else if (r == best && r == kMatchGood) {
      if (best_template.iflagTest(Iflag::kOpt) && !candidate.iflagTest(Iflag::kOpt) &&
          isQwordRegByteRm(best_template) && isQwordRegByteRm(candidate) &&
          best_template.row().operand_classes == candidate.row().operand_classes &&
          best_template.row().operand_decorators == candidate.row().operand_decorators && !hasCode0324(best_template) &&
          hasCode0324(candidate)) {
        best_template = candidate;
        best_position = position;
        break;
      }
      if (!shouldContinueExactOverrideSearch(best_template)) break;
    } else if (best == kMatchGood && !shouldContinueExactOverrideSearch(best_template)) {
      break;
    }
  }
  if (!found || best < kMatchSuccess) return best;
  ins.template_index = best_template.index;
  ins.template_present = true;
  ins.template_position = best_position;
  return kMatchGood;
}

}  // namespace

namespace {

std::uint32_t findMatchWith(X86Instruction& ins, bool indexed) {
  OpenSizes wanted{};
  const std::uint32_t first = searchTemplates(ins, wanted, indexed);
  if (first != kMatchSizeMissing) return first;
  bool any = false;
  for (const std::uint64_t sizes : wanted) {
    if (severalBits(sizes)) return kMatchSizeMissing;
    any = any || sizes != 0;
  }
  if (!any) return first;
  for (unsigned i = 0; i < ins.operand_count; ++i) ins.operands[i].flags |= wanted[i];
  OpenSizes again{};
  return searchTemplates(ins, again, indexed);
}

}  // namespace

std::uint32_t findMatch(X86Instruction& ins) { return findMatchWith(ins, true); }

std::uint32_t findMatchByScan(X86Instruction& ins) { return findMatchWith(ins, false); }

}  // namespace x86_encoder::match
