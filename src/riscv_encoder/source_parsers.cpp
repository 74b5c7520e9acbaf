#include "riscv_encoder/source_parsers.hpp"

#include <array>

#include "common/ascii.hpp"
#include "riscv_encoder/api.hpp"

namespace riscv_encoder::source {

using qovrin::Error;
using qovrin::fail;

namespace {

std::string_view trimmed(std::string_view text) noexcept { return qovrin::trim(text, kBlanks); }

std::optional<unsigned> digitValue(char c, unsigned base) noexcept {
  const char lower = qovrin::lowerAscii(c);
  unsigned value = 0;
  if (qovrin::isAsciiDigit(lower))
    value = static_cast<unsigned>(lower - '0');
  else if (lower >= 'a' && lower <= 'f')
    value = static_cast<unsigned>(lower - 'a' + 10);
  else
    return std::nullopt;
  if (value >= base) return std::nullopt;
  return value;
}

struct NamedValue {
  std::string_view name;
  std::uint32_t value;
};

constexpr std::array<NamedValue, 40> kCsrNames{{
    {"fflags", 0x001},   {"frm", 0x002},      {"fcsr", 0x003},     {"cycle", 0xC00},    {"time", 0xC01},
    {"instret", 0xC02},  {"cycleh", 0xC80},   {"timeh", 0xC81},    {"instreth", 0xC82}, {"sstatus", 0x100},
    {"sie", 0x104},      {"stvec", 0x105},    {"scounteren", 0x106}, {"sscratch", 0x140}, {"sepc", 0x141},
    {"scause", 0x142},   {"stval", 0x143},    {"sip", 0x144},      {"satp", 0x180},     {"mstatus", 0x300},
    {"misa", 0x301},     {"medeleg", 0x302},  {"mideleg", 0x303},  {"mie", 0x304},      {"mtvec", 0x305},
    {"mcounteren", 0x306}, {"mscratch", 0x340}, {"mepc", 0x341},   {"mcause", 0x342},   {"mtval", 0x343},
    {"mip", 0x344},      {"mstatush", 0x310}, {"pmpcfg0", 0x3A0},  {"pmpcfg1", 0x3A1},  {"pmpcfg2", 0x3A2},
    {"pmpcfg3", 0x3A3},  {"pmpaddr0", 0x3B0}, {"pmpaddr1", 0x3B1}, {"pmpaddr2", 0x3B2}, {"pmpaddr3", 0x3B3},
}};

constexpr std::array<NamedValue, 6> kRoundingModes{{
    {"rne", 0}, {"rtz", 1}, {"rdn", 2}, {"rup", 3}, {"rmm", 4}, {"dyn", 7}}};

template <std::size_t N>
qovrin::Result<std::uint32_t> findNamed(const std::array<NamedValue, N>& table, std::string_view text) noexcept {
  text = trimmed(text);
  for (const NamedValue& entry : table)
    if (qovrin::equalsIgnoreCase(entry.name, text)) return entry.value;
  return fail(Error::InvalidOperand);
}

}  // namespace

qovrin::Result<std::optional<std::uint64_t>> parseIntegerLiteral(std::string_view text) noexcept {
  text = trimmed(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0') {
    const char prefix = qovrin::lowerAscii(text[1]);
    base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
    if (base != 10) text.remove_prefix(2);
  }
  if (text.empty() || text.front() == '_' || text.back() == '_') return std::nullopt;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (std::size_t index = 0; index < text.size(); ++index) {
    if (text[index] == '_' && text[index - 1] != '_') continue;
    const auto digit = digitValue(text[index], base);
    if (!digit) return std::nullopt;
    if (magnitude > (~std::uint64_t{0} - *digit) / base) overflow = true;
    magnitude = magnitude * base + *digit;
  }
  if (overflow || (negative && magnitude > (std::uint64_t{1} << 63))) return fail(Error::ImmediateOutOfRange);
  return negative ? std::uint64_t{0} - magnitude : magnitude;
}

qovrin::Result<RiscvOperand> parseImmediate(std::string_view text, const RiscvExpressionHook& hook) {
  text = trimmed(text);
  if (text.empty()) return fail(Error::InvalidOperand);
  const auto literal = parseIntegerLiteral(text);
  if (!literal) return fail(literal.error());
  if (*literal) return immediateOperand(**literal);
  if (!hook.enabled || hook.resolve == nullptr) return fail(Error::InvalidOperand);
  const auto resolved = hook.resolve(hook.context, text);
  if (!resolved) return fail(resolved.error());
  if (!resolved->value) return fail(Error::InvalidOperand);
  RiscvOperand operand = immediateOperand(static_cast<std::uint64_t>(*resolved->value));
  if (resolved->pending) operand.flags |= kOperandPending;
  return operand;
}

qovrin::Result<std::uint32_t> parseCsrName(std::string_view text) noexcept { return findNamed(kCsrNames, text); }

qovrin::Result<std::uint32_t> parseRoundingMode(std::string_view text) noexcept {
  return findNamed(kRoundingModes, text);
}

qovrin::Result<std::uint32_t> parseFenceMask(std::string_view text) noexcept {
  text = trimmed(text);
  if (text.empty()) return fail(Error::InvalidOperand);
  std::uint32_t mask = 0;
  for (const char c : text) {
    switch (qovrin::lowerAscii(c)) {
      case 'i': mask |= 8; break;
      case 'o': mask |= 4; break;
      case 'r': mask |= 2; break;
      case 'w': mask |= 1; break;
      default: return fail(Error::InvalidOperand);
    }
  }
  return mask;
}

qovrin::Result<std::uint32_t> parseVType(std::string_view text) noexcept {
  text = trimmed(text);
  if (text.empty() || qovrin::lowerAscii(text.front()) != 'e') return fail(Error::UnsupportedOperandSyntax);
  std::array<std::string_view, 4> words{};
  std::size_t count = 0;
  while (true) {
    const std::size_t comma = text.find(',');
    if (count == words.size()) return fail(Error::InvalidOperand);
    words[count++] = trimmed(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (count != words.size()) return fail(Error::InvalidOperand);
  return parseVTypeParts(words[0], words[1], words[2], words[3]);
}

qovrin::Result<std::uint32_t> parseVTypeParts(std::string_view element_width, std::string_view multiplier,
                                              std::string_view tail, std::string_view mask) noexcept {
  constexpr std::array<NamedValue, 4> kWidths{{{"e8", 0}, {"e16", 1}, {"e32", 2}, {"e64", 3}}};
  constexpr std::array<NamedValue, 7> kMultipliers{
      {{"m1", 0}, {"m2", 1}, {"m4", 2}, {"m8", 3}, {"mf8", 5}, {"mf4", 6}, {"mf2", 7}}};
  constexpr std::array<NamedValue, 2> kTails{{{"tu", 0}, {"ta", 1}}};
  constexpr std::array<NamedValue, 2> kMasks{{{"mu", 0}, {"ma", 1}}};
  const auto width = findNamed(kWidths, element_width);
  const auto group = findNamed(kMultipliers, multiplier);
  const auto tail_policy = findNamed(kTails, tail);
  const auto mask_policy = findNamed(kMasks, mask);
  if (!width || !group || !tail_policy || !mask_policy) return fail(Error::InvalidOperand);
  return *width << 3 | *group | *tail_policy << 6 | *mask_policy << 7;
}

qovrin::Result<std::uint32_t> parseRegisterList(std::string_view text) noexcept {
  text = trimmed(text);
  if (text.size() < 2 || text.front() != '{' || text.back() != '}') return fail(Error::UnsupportedOperandSyntax);
  std::string_view inside = trimmed(text.substr(1, text.size() - 2));
  if (inside.empty()) return fail(Error::InvalidOperand);
  const std::size_t comma = inside.find(',');
  const auto first = api::parseRegister(inside.substr(0, comma));
  if (!first || *first != 1) return fail(Error::InvalidOperand);
  if (comma == std::string_view::npos) return 4u;
  const std::string_view second = trimmed(inside.substr(comma + 1));
  if (second.find(',') != std::string_view::npos) return fail(Error::InvalidOperand);
  const std::size_t dash = second.find('-');
  const auto low = api::parseRegister(second.substr(0, dash));
  if (!low || *low != 8) return fail(Error::InvalidOperand);
  if (dash == std::string_view::npos) return 5u;
  const auto high = api::parseRegister(second.substr(dash + 1));
  if (!high) return fail(Error::InvalidOperand);
  switch (*high) {
    case 1: return 4u;
    case 8: return 5u;
    case 9: return 6u;
    case 27: return 15u;
    default:
      if (*high >= 18 && *high <= 25) return static_cast<std::uint32_t>(*high - 18 + 7);
      return fail(Error::InvalidOperand);
  }
}

}  // namespace riscv_encoder::source
