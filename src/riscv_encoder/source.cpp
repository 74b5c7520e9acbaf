#include "riscv_encoder/source.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "common/ascii.hpp"
#include "riscv_encoder/api.hpp"
#include "riscv_encoder/encode_fields.hpp"
#include "riscv_encoder/encode_semantic.hpp"
#include "riscv_encoder/source_operands.hpp"
#include "riscv_encoder/source_parsers.hpp"
#include "riscv_encoder/tables.hpp"

namespace riscv_encoder::source {

using qovrin::Error;
using qovrin::fail;
using qovrin::Status;

namespace {

// Only the first `length` characters are ever read, so the buffer is left
// unset until written.
struct Mnemonic {
  std::array<char, kMaxMnemonicLength> buffer;
  std::size_t length = 0;

  std::string_view text() const noexcept { return {buffer.data(), length}; }
};

// The mnemonic rewritten to a row name, with what the rewrite implies.
struct MnemonicForm {
  std::string_view name;
  std::optional<std::uint64_t> special_operand;  // N of mop.r.N / mop.rr.N, the aqrl bit of a Zalasr row
  bool ordering_suffix = false;                  // aq and rl operands follow
  std::uint32_t aq = 0;
  std::uint32_t rl = 0;
};

std::optional<std::uint64_t> decimalNumber(std::string_view text) noexcept {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!qovrin::isAsciiDigit(c)) return std::nullopt;
    // Past the largest number that names a row; saturating keeps it there.
    value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(c - '0'), 1000);
  }
  return value;
}

bool isOneOfNames(std::string_view name, std::initializer_list<std::string_view> names) noexcept {
  for (const std::string_view candidate : names)
    if (candidate == name) return true;
  return false;
}

// Zalasr load-acquire and store-release rows are named with the suffix that
// the other mnemonics take as aq / rl operands.
MnemonicForm mnemonicForm(std::string_view name, Mnemonic& storage) noexcept {
  MnemonicForm form;
  form.name = name;
  const auto special = [&form](std::string_view prefix, std::string_view row, std::uint64_t limit) {
    if (!form.name.starts_with(prefix)) return false;
    const auto number = decimalNumber(form.name.substr(prefix.size()));
    if (!number || *number > limit) return false;
    form.name = row;
    form.special_operand = *number;
    return true;
  };
  // Both special prefixes begin "mop_r", and every ordering suffix ends in
  // "q" or "l": most mnemonics are ruled out by these alone.
  if (name.starts_with("mop_r") && (special("mop_r_", "mop_r_n", 31) || special("mop_rr_", "mop_rr_n", 7)))
    return form;
  if (name.empty() || (name.back() != 'q' && name.back() != 'l')) return form;
  for (const std::string_view suffix : {"_aqrl", "_aq", "_rl"}) {
    if (!name.ends_with(suffix) || name.size() == suffix.size()) continue;
    const std::string_view base = name.substr(0, name.size() - suffix.size());
    const bool acquire = suffix != "_rl";
    const bool release = suffix != "_aq";
    const bool load = isOneOfNames(base, {"lb", "lh", "lw", "ld"});
    const bool store = isOneOfNames(base, {"sb", "sh", "sw", "sd"});
    if ((load && acquire) || (store && release)) {
      const std::string_view row_suffix = load ? "_aq" : "_rl";
      storage.length = base.size() + row_suffix.size();
      std::copy(base.begin(), base.end(), storage.buffer.begin());
      std::copy(row_suffix.begin(), row_suffix.end(), storage.buffer.begin() + base.size());
      form.name = storage.text();
      form.special_operand = (acquire && release) ? 1 : 0;
      return form;
    }
    form.name = base;
    form.ordering_suffix = true;
    form.aq = acquire;
    form.rl = release;
    return form;
  }
  return form;
}

// The characters that can change how forEachPiece cuts; it passes over all others.
constexpr std::array<bool, 256> kCutsPieces = [] {
  std::array<bool, 256> cuts{};
  for (const char c : std::string_view("'()[]{},")) cuts[static_cast<unsigned char>(c)] = true;
  return cuts;
}();

// Cuts at commas outside (), [], {} and single quotes; a digit separator
// (1'000) opens no quote.
template <typename Visit>
Status forEachPiece(std::string_view text, Visit visit) {
  int depth = 0;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char c = text[index];
    if (!kCutsPieces[static_cast<unsigned char>(c)]) continue;
    if (c == '\'' && (quoted || !qovrin::isDigitSeparator(text, index))) quoted = !quoted;
    if (quoted) continue;
    if (c == '(' || c == '[' || c == '{') ++depth;
    if ((c == ')' || c == ']' || c == '}') && depth > 0) --depth;
    if (c == ',' && depth == 0) {
      QOVRIN_TRY(visit(text.substr(start, index - start)));
      start = index + 1;
    }
  }
  return visit(text.substr(start));
}

// vsetvli / vsetivli: "rd, rs1|uimm, vtype" where the vector type may itself hold commas.
Status appendVectorConfiguration(std::string_view text, std::uint8_t kind, const RiscvExpressionHook& hook,
                                 RiscvOperandList& operands) {
  const std::size_t first_comma = text.find(',');
  if (first_comma == std::string_view::npos) return fail(Error::OperandCountMismatch);
  const std::size_t second_comma = text.find(',', first_comma + 1);
  if (second_comma == std::string_view::npos) return fail(Error::OperandCountMismatch);
  const auto destination = api::parseRegister(text.substr(0, first_comma));
  if (!destination) return fail(Error::InvalidOperand);
  QOVRIN_TRY(operands.push(registerOperand(*destination)));
  const std::string_view second = qovrin::trim(text.substr(first_comma + 1, second_comma - first_comma - 1), kBlanks);
  if (kind == 53) {
    const auto source = api::parseRegister(second);
    if (!source) return fail(Error::InvalidOperand);
    QOVRIN_TRY(operands.push(registerOperand(*source)));
  } else {
    const auto value = parseImmediate(second, hook);
    if (!value) return fail(value.error());
    QOVRIN_TRY(operands.push(*value));
  }
  const std::string_view type = qovrin::trim(text.substr(second_comma + 1), kBlanks);
  if (type.find(',') != std::string_view::npos) {
    const auto vtype = parseVType(type);
    if (!vtype) return fail(Error::InvalidOperand);
    return operands.push(immediateOperand(*vtype));
  }
  if (!type.empty() && qovrin::lowerAscii(type.front()) == 'e') return fail(Error::InvalidOperand);
  const auto value = parseImmediate(type, hook);
  if (!value) return fail(value.error());
  return operands.push(*value);
}

// The nf operand of segment kinds and the vm operand: the last operand of a
// masked kind is always vm, 0 when "v0.t" was written.
Status completeVectorMask(std::uint8_t kind, RiscvOperandList& operands) {
  const auto mask_count = vectorMaskOperandCount(kind);
  if (!mask_count) return {};
  const std::size_t count = *mask_count;
  if (vectorSegmentKind(kind)) {
    if (operands.count == count - 1)
      QOVRIN_TRY(operands.insert(operands.count - 1, immediateOperand(0)));
    else if (operands.count == count - 2)
      QOVRIN_TRY(operands.push(immediateOperand(0)));
  }
  if (operands.count == count - 1) return operands.push(immediateOperand(1));
  return {};
}

// The count a row takes includes operands the mnemonic implies; the user
// is told how many to write. Masked vector rows take a varying count.
void describeWrittenCount(const MnemonicForm& form, std::uint8_t kind, RiscvFailure& failure) noexcept {
  const std::size_t implied = (form.ordering_suffix ? 2 : 0) + (form.special_operand ? 1 : 0);
  if (vectorMaskOperandCount(kind) || failure.operands < implied) {
    failure = {};
    return;
  }
  failure.operands = static_cast<std::uint8_t>(failure.operands - implied);
  std::fill(failure.names.begin() + failure.operands, failure.names.end(), std::string_view{});
}

bool hasOrderingField(const RiscvInstructionRow& row) noexcept {
  return encode::hasField(row.fields, "aq") || encode::hasField(row.fields, "rl");
}

// What the piece's text tells about a failure found later: an address
// "offset(name)" whose name is no register, or a "(" never closed.
void notePiece(std::string_view piece, std::size_t first, const RiscvOperandList& operands, RiscvFailure& failure) {
  piece = qovrin::trim(piece, kBlanks);
  for (std::size_t index = first; index < operands.count; ++index) failure.written[index] = piece;
  const std::size_t open = piece.rfind('(');
  if (open == std::string_view::npos) return;
  const std::size_t close = piece.find(')', open);
  if (close == std::string_view::npos) {
    failure.unclosed = piece;
    return;
  }
  const std::string_view inside = qovrin::trim(piece.substr(open + 1, close - open - 1), kBlanks);
  if (close + 1 == piece.size() && !inside.empty() && qovrin::isAsciiLetter(inside.front()) &&
      std::ranges::all_of(inside, [](char c) { return qovrin::isAsciiLetter(c) || qovrin::isAsciiDigit(c); }) &&
      !api::parseRegister(inside))
    failure.unknown_base = inside;
}

// More operands than the list holds: the count the row takes, as for any
// other wrong count.
void describeTooMany(const MnemonicForm& form, std::span<const RiscvInstructionRow> rows, unsigned xlen,
                     const RiscvOperandList& operands, RiscvFailure& failure) {
  const auto found = tables::findInstruction(rows, xlen);
  if (!found) return;
  failure = {};
  if (encode::semanticFieldValues(**found, {operands.items.data(), operands.count}, &failure) ||
      failure.part != RiscvFailure::Part::operand_count) {
    failure = {};
    return;
  }
  describeWrittenCount(form, (*found)->kind, failure);
}

// The vector type of vsetvli / vsetivli when its words are no type.
void describeVectorType(std::string_view text, RiscvFailure& failure) noexcept {
  const std::size_t first_comma = text.find(',');
  const std::size_t second_comma = text.find(',', first_comma + 1);
  if (first_comma == std::string_view::npos || second_comma == std::string_view::npos) return;
  const std::string_view type = qovrin::trim(text.substr(second_comma + 1), kBlanks);
  const bool words = !type.empty() && qovrin::lowerAscii(type.front()) == 'e';
  if ((!words && type.find(',') == std::string_view::npos) || parseVType(type)) return;
  failure.part = words ? RiscvFailure::Part::vector_type : RiscvFailure::Part::unreadable;
  failure.position = 3;
  failure.written[2] = type;
}

// Vector loads and stores, whose address is a register alone.
bool vectorMemoryKind(std::uint8_t kind) noexcept { return kind == 44 || (kind >= 58 && kind <= 64); }

// "8(a0)": an offset before a parenthesised register.
bool hasOffset(std::string_view piece) noexcept {
  piece = qovrin::trim(piece, kBlanks);
  const std::size_t open = piece.find('(');
  return open != std::string_view::npos && open > 0 && piece.back() == ')';
}

// Rows whose sp operand is implied: the stack loads and stores, c.addi16sp
// and c.addi4spn.
bool impliesStackPointer(std::uint8_t kind) noexcept { return kind == 78 || kind == 79 || kind == 82 || kind == 84; }

bool writesStackPointer(const RiscvOperandList& operands) noexcept {
  return std::any_of(operands.items.begin(), operands.items.begin() + static_cast<std::ptrdiff_t>(operands.count),
                     [](const RiscvOperand& operand) { return !operand.isImmediate() && operand.value == 2; });
}

// Whether the mnemonic has a row for this XLEN under the name with ".rv32".
bool hasRv32Form(std::string_view name, unsigned xlen) noexcept {
  constexpr std::string_view kSuffix = "_rv32";
  if (name.size() + kSuffix.size() > kMaxMnemonicLength) return false;
  std::array<char, kMaxMnemonicLength> buffer;
  std::copy(name.begin(), name.end(), buffer.begin());
  std::copy(kSuffix.begin(), kSuffix.end(), buffer.begin() + name.size());
  return static_cast<bool>(tables::findInstruction({buffer.data(), name.size() + kSuffix.size()}, xlen));
}

// A 32-bit register holds 2^31 .. 2^32 - 1 in the bits of the negative
// number 2^32 below it, and that is how every RV32 field reads such a value.
// A value past 32 bits stays as written, for the field's range check to refuse.
void readAsRv32Values(RiscvOperandList& operands) noexcept {
  for (std::size_t index = 0; index < operands.count; ++index) {
    RiscvOperand& operand = operands.items[index];
    if (operand.isImmediate() && operand.value >> 31 == 1) operand.value |= ~std::uint64_t{0} << 32;
  }
}

}  // namespace

qovrin::Result<RiscvEncodedInstruction> encodeInstructionText(std::string_view text, unsigned xlen,
                                                             const RiscvExpressionHook& hook,
                                                             RiscvFailure* failure) {
  if (xlen != 32 && xlen != 64) return fail(Error::InvalidXLen);
  // Plain scans: find_first_of would search its set with memchr once per character.
  const std::size_t written_size = text.size();
  text = {text.begin(), std::ranges::find_if(text, [](char c) { return c == '#' || c == ';'; })};
  const std::size_t comment = text.size() != written_size ? text.size() : std::string_view::npos;
  text = qovrin::trim(text, kBlanks);
  if (text.empty()) return fail(Error::UnsupportedInstruction);

  const auto blank = std::ranges::find_if(text, [](char c) { return c == ' ' || c == '\t'; });
  const std::string_view written = qovrin::trim({text.begin(), blank}, kBlanks);
  const std::string_view operand_text = blank == text.end() ? std::string_view{} : std::string_view{blank + 1, text.end()};
  if (written.empty() || written.size() > kMaxMnemonicLength) {
    // No row has a name this long.
    if (failure != nullptr && !written.empty()) failure->part = RiscvFailure::Part::mnemonic;
    return fail(Error::MnemonicTooLong);
  }
  Mnemonic normalised;
  for (const char c : written) {
    const char lower = qovrin::lowerAscii(c);
    normalised.buffer[normalised.length++] = (lower == '.' || lower == '-') ? '_' : lower;
  }
  Mnemonic renamed;
  const MnemonicForm form = mnemonicForm(normalised.text(), renamed);

  // Operand text is cut the way the mnemonic's rows are read; a mnemonic
  // without rows fails before any operand is resolved.
  const auto rows = tables::rowsOf(form.name);
  const RiscvInstructionRow* split_row = tables::preLookup(rows);
  if (split_row == nullptr) {
    if (failure != nullptr) failure->part = RiscvFailure::Part::mnemonic;
    return fail(Error::UnsupportedInstruction);
  }
  const auto mask_position = writtenMaskPosition(split_row->kind);
  const AppendContext context{split_row->kind, true, offsetFirstKind(split_row->kind),
                              static_cast<std::uint8_t>(mask_position.value_or(0)), rows};
  RiscvOperandList operands;
  const std::string_view operands_trimmed = qovrin::trim(operand_text, kBlanks);
  if (context.kind == 53 || context.kind == 54) {
    const Status configured = appendVectorConfiguration(operands_trimmed, context.kind, hook, operands);
    if (!configured) {
      if (failure != nullptr && configured.error() == Error::InvalidOperand)
        describeVectorType(operands_trimmed, *failure);
      return fail(configured.error());
    }
  } else if (!operands_trimmed.empty()) {
    bool mask_written = false;
    const auto read = [&](std::string_view piece) -> Status {
      const std::size_t first = operands.count;
      // A piece past the mask would not be refused by the count: the mask
      // would take the place of nf, and the piece that of vm.
      if (mask_written) {
        if (failure != nullptr) {
          failure->part = RiscvFailure::Part::after_mask;
          failure->position = static_cast<std::uint8_t>(first + 1);
          failure->written[first] = qovrin::trim(piece, kBlanks);
        }
        return fail(Error::OperandCountMismatch);
      }
      const Status appended = appendOperand(piece, context, hook, operands);
      const bool at_mask = context.mask_position != 0 && first + 1 == context.mask_position;
      mask_written = at_mask && appended && operands.count == context.mask_position;
      if (failure != nullptr) {
        notePiece(piece, first, operands, *failure);
        if (!appended && appended.error() != Error::OutOfMemory && appended.error() != Error::TooManyOperands) {
          failure->part = RiscvFailure::Part::unreadable;
          failure->position = static_cast<std::uint8_t>(first + 1);
          failure->written[first] = qovrin::trim(piece, kBlanks);
          failure->at_mask = at_mask;
          failure->vector_offset = vectorMemoryKind(context.kind) && hasOffset(piece);
        }
      }
      return appended;
    };
    // Most lines have no mask and want no failure told: their pieces go
    // straight to the reader, with nothing to keep beside it.
    const auto append = [&](std::string_view piece) { return appendOperand(piece, context, hook, operands); };
    const Status pieces = failure == nullptr && context.mask_position == 0 ? forEachPiece(operands_trimmed, append)
                                                                           : forEachPiece(operands_trimmed, read);
    if (!pieces) {
      if (failure != nullptr && pieces.error() == Error::TooManyOperands)
        describeTooMany(form, rows, xlen, operands, *failure);
      return fail(pieces.error());
    }
  }
  QOVRIN_TRY(completeVectorMask(context.kind, operands));
  if (form.ordering_suffix) {
    QOVRIN_TRY(operands.push(immediateOperand(form.aq)));
    QOVRIN_TRY(operands.push(immediateOperand(form.rl)));
  }
  if (form.special_operand) QOVRIN_TRY(operands.push(immediateOperand(*form.special_operand)));
  if (xlen == 32) readAsRv32Values(operands);

  const auto found = tables::findInstruction(rows, xlen);
  if (!found) {
    if (failure != nullptr && found.error() == Error::UnsupportedXLen) {
      failure->part = RiscvFailure::Part::other_xlen;
      failure->rv32_form = xlen == 32 && hasRv32Form(form.name, xlen);
    }
    return fail(found.error());
  }
  const RiscvInstructionRow& row = **found;
  if (row.width != 16 && row.width != 32) return fail(Error::UnsupportedInstructionWidth);
  // An ordering suffix on a row without aq / rl bits would be dropped silently.
  if (form.ordering_suffix && !hasOrderingField(row)) {
    if (failure != nullptr) failure->part = RiscvFailure::Part::ordering_suffix;
    return fail(Error::UnsupportedInstruction);
  }
  if ((row.flags & kRowMultiplyAdd) != 0 && operands.count >= 3) {
    std::swap(operands.items[1], operands.items[2]);
    if (failure != nullptr) std::swap(failure->written[1], failure->written[2]);
  }

  const auto values = encode::semanticFieldValues(row, {operands.items.data(), operands.count}, failure);
  if (!values) {
    if (failure != nullptr && failure->part == RiscvFailure::Part::operand_count) {
      describeWrittenCount(form, row.kind, *failure);
      failure->implicit_sp = impliesStackPointer(row.kind) && writesStackPointer(operands);
    }
    return fail(values.error());
  }
  const auto word = encode::packInstruction(row, *values);
  if (!word) return fail(word.error());
  return RiscvEncodedInstruction{*word, *word, static_cast<std::uint8_t>(row.width / 8), comment};
}

}  // namespace riscv_encoder::source
