#include "x86_encoder/operand_memory.hpp"

#include <algorithm>
#include <charconv>
#include <string>

#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/operand_literals.hpp"
#include "x86_encoder/operand_scan.hpp"
#include "x86_encoder/operand_text.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::api {

using qovrin::Error;
using qovrin::fail;
using tables::RegisterRow;

namespace {

bool isGeneralPurpose(const RegisterRow& row) noexcept {
  return (row.flags & kGeneralPurposeRegister) == kGeneralPurposeRegister;
}

bool isStackPointer(const RegisterRow& row) noexcept {
  return row.name == "sp" || row.name == "esp" || row.name == "rsp";
}

// Memory bits that tell templates an address uses a vector index (VSIB).
std::uint64_t vectorIndexFlags(const RegisterRow& row) noexcept {
  if ((row.flags & kXmmClass) != 0) return kMemoryXmmIndex;
  if ((row.flags & kYmmClass) != 0) return kMemoryYmmIndex;
  if ((row.flags & kZmmClass) != 0) return kMemoryZmmIndex;
  return 0;
}

// Base and index registers of one address, written into its operand, with
// the class bits they imply.
class AddressRegisters {
 public:
  explicit AddressRegisters(X86Operand& operand) noexcept : operand_(operand) {}

  // A register written on its own: the first general-purpose register is the
  // base, the second the index; any other register is the index.
  qovrin::Status add(const RegisterRow& row, bool negative) noexcept {
    if (negative) return fail(Error::UnsupportedOperandSyntax);
    if (isGeneralPurpose(row) && operand_.base == kNone) {
      operand_.base = row.id;
      note(row);
      return {};
    }
    return setIndex(row, 1);
  }

  // "reg*n".
  qovrin::Status addScaled(const RegisterRow& row, std::int32_t scale, bool negative) noexcept {
    if (negative) return fail(Error::UnsupportedOperandSyntax);
    if (isStackPointer(row)) return fail(Error::InvalidRspIndexRegister);
    return setIndex(row, scale);
  }

  // The operand-class word of the address.
  std::uint64_t flags() const noexcept {
    if (!any_) return kMemoryAbsolute;
    return kMemoryWithRegisters | (all_below_16_ ? kRegisterNumberBelow16 : 0) | vector_flags_;
  }

 private:
  qovrin::Status setIndex(const RegisterRow& row, std::int32_t scale) noexcept {
    if (operand_.index != kNone) return fail(Error::UnsupportedOperandSyntax);
    operand_.index = row.id;
    operand_.scale = scale;
    vector_flags_ = vectorIndexFlags(row);
    note(row);
    return {};
  }

  void note(const RegisterRow& row) noexcept {
    any_ = true;
    all_below_16_ = all_below_16_ && (row.flags & kRegisterNumberBelow16) != 0;
  }

  X86Operand& operand_;
  std::uint64_t vector_flags_ = 0;
  bool any_ = false;
  bool all_below_16_ = true;
};

// Letters, digits, '.', '_' and '$': a term that needs no parentheses when it
// is joined with others into one expression.
bool isPlainTerm(std::string_view term) noexcept {
  for (const char c : term) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '$';
    if (!plain) return false;
  }
  return true;
}

// The non-register terms of an address, joined into the one expression that
// the resolver is asked for. A lone positive term is passed as written; the
// joined text is only built when there is more to say.
class DisplacementExpression {
 public:
  void addSymbolic(std::string_view term, bool negative) {
    if (count_ == 0) {
      first_ = term;
      first_negative_ = negative;
    } else {
      if (count_ == 1) append(first_, first_negative_, true);
      append(term, negative, false);
    }
    ++count_;
  }

  qovrin::Status addLiteral(std::int64_t value, bool negative) noexcept {
    const bool overflow = negative ? __builtin_sub_overflow(literals_, value, &literals_)
                                   : __builtin_add_overflow(literals_, value, &literals_);
    if (overflow) return fail(Error::IntegerOverflow);
    return {};
  }

  bool symbolic() const noexcept { return count_ != 0; }
  std::int64_t literals() const noexcept { return literals_; }

  // Text for the resolver; valid while this object lives.
  std::string_view text() {
    if (count_ == 1 && !first_negative_ && literals_ == 0) return first_;
    if (count_ == 1) append(first_, first_negative_, true);
    if (literals_ != 0) appendLiteralSum();
    return joined_;
  }

 private:
  void append(std::string_view term, bool negative, bool first) {
    if (first)
      joined_ += negative ? "0 - " : "";
    else
      joined_ += negative ? " - " : " + ";
    if (isPlainTerm(term)) {
      joined_ += term;
    } else {
      joined_ += '(';
      joined_ += term;
      joined_ += ')';
    }
  }

  void appendLiteralSum() {
    // The magnitude in unsigned arithmetic, so that -2^63 is written too.
    const bool negative = literals_ < 0;
    const std::uint64_t magnitude =
        negative ? std::uint64_t{0} - static_cast<std::uint64_t>(literals_) : static_cast<std::uint64_t>(literals_);
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
    joined_ += negative ? " - " : " + ";
    joined_.append(digits, end);
  }

  std::string joined_;
  std::string_view first_;
  std::int64_t literals_ = 0;
  std::size_t count_ = 0;
  bool first_negative_ = false;
};

// A product of literal factors ("2*8"); false when a factor is not a literal.
qovrin::Result<bool> literalProduct(std::string_view term, std::int64_t& product) noexcept {
  product = 1;
  TextNesting nesting;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= term.size(); ++i) {
    if (i < term.size() && (!nesting.step(term, i) || term[i] != '*')) continue;
    std::int64_t factor = 0;
    const auto read = readIntLiteral(term.substr(start, i - start), factor);
    if (!read || !*read) return read;
    if (__builtin_mul_overflow(product, factor, &product)) return fail(Error::IntegerOverflow);
    start = i + 1;
  }
  return true;
}

// Position of the only top-level '*' in term, npos when there is none or
// more than one.
template <typename Nesting>
std::size_t singleStar(std::string_view term) noexcept {
  Nesting nesting;
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < term.size(); ++i) {
    if (!nesting.step(term, i) || term[i] != '*') continue;
    if (found != std::string_view::npos) return std::string_view::npos;
    found = i;
  }
  return found;
}

struct ScaledTerm {
  const RegisterRow* row;  // null when neither side names a register
  std::string_view factor;
};

// "reg*n" or "n*reg", split at its one '*'.
ScaledTerm splitScaledTerm(std::string_view term, std::size_t star) noexcept {
  const std::string_view left = trimOperandText(term.substr(0, star));
  const std::string_view right = trimOperandText(term.substr(star + 1));
  if (const RegisterRow* row = findOperandRegister(left)) return {row, right};
  return {findOperandRegister(right), left};
}

struct AddressParts {
  AddressRegisters& registers;
  DisplacementExpression& displacement;
};

// One term of a sum, with the sign written before it.
template <typename Nesting>
qovrin::Status addTerm(AddressParts parts, std::string_view term, bool negative) {
  if (const RegisterRow* row = findOperandRegister(term)) return parts.registers.add(*row, negative);
  const std::size_t star = singleStar<Nesting>(term);
  if (star != std::string_view::npos) {
    const auto [row, factor] = splitScaledTerm(term, star);
    if (row != nullptr) {
      const auto scale = parseMemoryScale(factor);
      if (!scale) return fail(scale.error());
      return parts.registers.addScaled(*row, *scale, negative);
    }
  }
  std::int64_t value = 0;
  const auto literal =
      findChar(term, '*') == std::string_view::npos ? readIntLiteral(term, value) : literalProduct(term, value);
  if (!literal) return fail(literal.error());
  if (*literal) return parts.displacement.addLiteral(value, negative);
  parts.displacement.addSymbolic(term, negative);
  return {};
}

// "base + index*scale + displacement" in any order.
template <typename Nesting>
qovrin::Status fillSummedAddress(std::string_view text, const X86ExpressionResolver& resolver, X86Operand& operand) {
  AddressRegisters registers(operand);
  DisplacementExpression displacement;
  const AddressParts parts{registers, displacement};

  bool negative = false;
  std::size_t start = 0;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    start = 1;
  }
  Nesting nesting;
  for (std::size_t i = start; i <= text.size(); ++i) {
    const bool end = i == text.size();
    if (!end && (!nesting.step(text, i) || (text[i] != '+' && text[i] != '-'))) continue;
    const std::string_view term = trimOperandText(text.substr(start, i - start));
    if (term.empty()) return fail(Error::UnsupportedOperandSyntax);
    if (end && !nesting.balanced()) return fail(Error::UnsupportedOperandSyntax);
    QOVRIN_TRY(addTerm<Nesting>(parts, term, negative));
    if (!end) negative = text[i] == '-';
    start = i + 1;
  }

  operand.flags = registers.flags();
  if (!displacement.symbolic()) {
    operand.value = displacement.literals();
    return {};
  }
  const auto answer = resolver(displacement.text());
  if (!answer) return fail(answer.error());
  if (!*answer) return fail(Error::UnsupportedOperandSyntax);
  operand.value = (*answer)->value;
  operand.symbolic = (*answer)->symbolic;
  if (!(*answer)->known) operand.value_flags |= kValueUnknown;
  return {};
}

// "[base-part, index-part]": the second part names the index only, and the
// hint records which register the first part wrote as its base.
qovrin::Status fillSplitAddress(SplitText halves, const X86ExpressionResolver& resolver, X86Operand& operand) {
  QOVRIN_TRY(fillMemoryOperand(halves.left, resolver, operand));
  X86Operand second;
  QOVRIN_TRY(fillMemoryOperand(halves.right, resolver, second));
  if (second.base != kNone && second.index == kNone) {
    second.index = second.base;
    second.scale = 1;
    second.base = kNone;
  }
  const bool accepted = operand.index == kNone && second.index != kNone && second.base == kNone && second.value == 0 &&
                        (second.value_flags & kValueUnknown) == 0 && second.hint_type == kHintNone && !second.symbolic;
  if (!accepted) return fail(Error::UnsupportedOperandSyntax);

  operand.index = second.index;
  operand.scale = second.scale;
  if (operand.base != kNone) {
    operand.hint_base = operand.base;
    operand.hint_type = kHintMakeBase;
  } else {
    operand.hint_base = operand.index;
    operand.hint_type = kHintNotBase;
  }
  // The class word covers every address register, the index included, so a
  // first part without registers no longer reads as an absolute address.
  X86Operand scratch;
  AddressRegisters registers(scratch);
  for (const std::int32_t id : {operand.base, operand.index}) {
    if (id == kNone) continue;
    const RegisterRow* row = tables::registerById(id);
    if (row == nullptr) return fail(Error::MissingRegisterMetadata);
    QOVRIN_TRY(registers.add(*row, false));
  }
  operand.flags = registers.flags();
  return {};
}

struct Modifier {
  std::string_view word;
  std::uint32_t ea_flags;
  std::uint8_t address_bits;
  std::uint32_t address_size;  // prefix code, 0 none
};

constexpr Modifier kModifiers[] = {
    {"nosplit", kEaNoSplit, 0, 0},
    {"ptr", 0, 0, 0},
    {"abs", kEaAbs, 0, 0},
    {"rel", kEaRel, 0, 0},
    {"a16", 0, 0, kPrefixA16},
    {"a32", 0, 0, kPrefixA32},
    {"a64", 0, 0, kPrefixA64},
    {"byte", kEaByteDisplacement, 8, 0},
    {"word", kEaFullDisplacement, 16, 0},
    {"long", kEaFullDisplacement, 32, 0},
    {"dword", kEaFullDisplacement, 32, 0},
    {"qword", kEaFullDisplacement, 64, 0},
};

constexpr std::size_t kLongestModifier =
    std::ranges::max(kModifiers, {}, [](const Modifier& m) { return m.word.size(); }).word.size();

const Modifier* findModifier(std::string_view word) noexcept {
  if (word.empty() || word.size() > kLongestModifier) return nullptr;
  for (const Modifier& modifier : kModifiers)
    if (equalsIgnoreCase(word, modifier.word)) return &modifier;
  return nullptr;
}

// Signs a flat address may hold: names, numbers, blanks, '+', '-' and '*'.
// Anything else (symbols' '_', '.', '$', quotes, brackets, ':', ',') needs
// the general reading.
constexpr ByteSet kFlatAddressBytes{"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-* \t\n\v\f\r"};

constexpr bool isDecimalDigit(char c) noexcept { return c >= '0' && c <= '9'; }

constexpr int hexDigit(char c) noexcept {
  if (isDecimalDigit(c)) return c - '0';
  const char lower = static_cast<char>(c | 0x20);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Up to 18 decimal digits or "0x" and up to 15 hex digits, which cannot
// overflow; false for any other text, which readIntLiteral then reads.
bool shortLiteral(std::string_view text, std::int64_t& value) noexcept {
  std::int64_t result = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() > 17) return false;
    for (std::size_t i = 2; i < text.size(); ++i) {
      const int digit = hexDigit(text[i]);
      if (digit < 0) return false;
      result = result * 16 + digit;
    }
  } else {
    if (text.size() > 18) return false;
    for (const char c : text) {
      if (!isDecimalDigit(c)) return false;
      result = result * 10 + (c - '0');
    }
  }
  value = result;
  return true;
}

// One term of a flat address: a register, "reg*n", "n*reg" or a number.
// False where the general reading would do anything else with it (resolve
// a symbol, multiply numbers, fail).
bool addFlatTerm(std::string_view raw, std::size_t star, bool negative, AddressRegisters& registers,
                 std::int64_t& displacement) noexcept {
  const std::string_view term = trimOperandText(raw);
  if (term.empty()) return false;
  if (star != std::string_view::npos) {
    const auto [row, factor] = splitScaledTerm(raw, star);
    if (row == nullptr) return false;
    const auto scale = parseMemoryScale(factor);
    return scale && registers.addScaled(*row, *scale, negative);
  }
  if (qovrin::isAsciiLetter(term.front())) {
    const RegisterRow* row = findOperandRegister(term);
    return row != nullptr && registers.add(*row, negative);
  }
  std::int64_t value = 0;
  if (!shortLiteral(term, value)) {
    const auto literal = readIntLiteral(term, value);
    if (!literal || !*literal) return false;
  }
  return !(negative ? __builtin_sub_overflow(displacement, value, &displacement)
                    : __builtin_add_overflow(displacement, value, &displacement));
}

}  // namespace

bool fillFlatAddress(std::string_view text, X86Operand& operand) noexcept {
  if (text.empty()) return false;
  // The leading word the general reading would take for a modifier.
  if (qovrin::isAsciiLetter(text.front())) {
    std::size_t space = 0;
    while (space < text.size() && space <= kLongestModifier && !isOperandSpace(text[space])) ++space;
    if (findModifier(text.substr(0, space)) != nullptr) return false;
  }
  X86Operand address = operand;
  AddressRegisters registers(address);
  std::int64_t displacement = 0;
  bool negative = false;
  std::size_t start = 0;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    start = 1;
  }
  std::size_t star = std::string_view::npos;
  for (std::size_t i = start; i <= text.size(); ++i) {
    if (i < text.size()) {
      const char c = text[i];
      if (!kFlatAddressBytes.contains(c)) return false;
      if (c == '*') {
        if (star != std::string_view::npos) return false;
        star = i - start;
      }
      if (c != '+' && c != '-') continue;
    }
    if (!addFlatTerm(text.substr(start, i - start), star, negative, registers, displacement)) return false;
    if (i < text.size()) negative = text[i] == '-';
    start = i + 1;
    star = std::string_view::npos;
  }
  address.flags = registers.flags();
  address.value = displacement;
  operand = address;
  return true;
}

qovrin::Result<std::int32_t> parseMemoryScale(std::string_view text) noexcept {
  std::int64_t scale = 0;
  const auto literal = readIntLiteral(text, scale);
  if (!literal) return fail(literal.error());
  if (!*literal) return fail(Error::UnsupportedOperandSyntax);
  if (scale != 1 && scale != 2 && scale != 4 && scale != 8) return fail(Error::InvalidMemoryScale);
  return static_cast<std::int32_t>(scale);
}

qovrin::Status fillMemoryOperand(std::string_view text, const X86ExpressionResolver& resolver, X86Operand& operand) {
  text = trimOperandText(text);
  if (text.empty()) return fail(Error::UnsupportedOperandSyntax);

  if (const RegisterRow* row = findOperandRegister(text)) {
    AddressRegisters registers(operand);
    QOVRIN_TRY(registers.add(*row, false));
    operand.flags = registers.flags();
    return {};
  }

  const auto literal = readIntLiteral(text, operand.value);
  if (!literal) return fail(literal.error());
  if (*literal) {
    operand.flags = kMemoryAbsolute;
    return {};
  }

  if (findChar(text, ',') != std::string_view::npos)
    if (const auto halves = splitTopLevelDelimiter(text, ',')) return fillSplitAddress(*halves, resolver, operand);
  if (isFlatText(text)) return fillSummedAddress<FlatText>(text, resolver, operand);
  return fillSummedAddress<TextNesting>(text, resolver, operand);
}

qovrin::Status fillEffectiveAddressOperand(X86Instruction& context, std::string_view text,
                                           const X86ExpressionResolver& resolver, X86Operand& operand) {
  text = trimOperandText(text);
  std::uint32_t ea_flags = 0;
  std::uint8_t address_bits = 0;
  // The address size reaches the instruction only once the whole operand has
  // parsed, so that a failure leaves the instruction as it was.
  std::uint32_t address_size = context.prefix(PrefixSlot::address_size);
  // Every modifier word starts with a letter; an address rarely does.
  while (!text.empty() && qovrin::isAsciiLetter(text.front())) {
    // No modifier is longer than kLongestModifier, so the search for the
    // blank after one stops there.
    std::size_t space = 0;
    while (space < text.size() && space <= kLongestModifier && !isOperandSpace(text[space])) ++space;
    const Modifier* modifier = findModifier(text.substr(0, space));
    if (modifier == nullptr) break;
    ea_flags |= modifier->ea_flags;
    if (modifier->address_bits != 0) address_bits = modifier->address_bits;
    if (modifier->address_size != 0) {
      if (address_size != 0 && address_size != modifier->address_size) return fail(Error::UnsupportedPrefixes);
      address_size = modifier->address_size;
    }
    text = trimOperandText(text.substr(space));
    if (text.empty()) return fail(Error::UnsupportedOperandSyntax);
  }
  QOVRIN_TRY(fillMemoryOperand(text, resolver, operand));
  operand.ea_flags |= ea_flags;
  if (address_bits != 0) operand.address_bits = address_bits;
  context.prefix(PrefixSlot::address_size) = address_size;
  return {};
}

qovrin::Result<X86Operand> parseMemoryOperand(std::string_view text, const X86ExpressionResolver& resolver) {
  qovrin::Result<X86Operand> result{std::in_place};
  if (auto filled = fillMemoryOperand(text, resolver, *result); !filled) result = fail(filled.error());
  return result;
}

qovrin::Result<X86Operand> parseEffectiveAddressMemoryOperand(X86Instruction& context, std::string_view text,
                                                              const X86ExpressionResolver& resolver) {
  qovrin::Result<X86Operand> result{std::in_place};
  if (auto filled = fillEffectiveAddressOperand(context, text, resolver, *result); !filled)
    result = fail(filled.error());
  return result;
}

}  // namespace x86_encoder::api
