#include "x86_encoder/operand_literals.hpp"

#include "x86_encoder/operand_text.hpp"

namespace x86_encoder::api {

using qovrin::Error;
using qovrin::fail;

namespace {

constexpr bool isDecimalDigit(char c) noexcept { return c >= '0' && c <= '9'; }

constexpr int hexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr bool isQuote(char c) noexcept { return c == '\'' || c == '"'; }

constexpr bool isAsciiAlphanumeric(char c) noexcept {
  return isDecimalDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

enum class HexDigits : std::uint8_t {
  valid,       // hex digits and underscores, at least one digit
  malformed,   // a word that is no hex number ("0xg1", "0zh")
  expression,  // holds an operator or blank: "0x10+rbx" is no literal at all
};

constexpr HexDigits classifyHexDigits(std::string_view text) noexcept {
  bool digit = false;
  bool malformed = false;
  for (const char c : text) {
    if (c == '_') continue;
    if (hexDigitValue(c) >= 0)
      digit = true;
    else if (isAsciiAlphanumeric(c))
      malformed = true;
    else
      return HexDigits::expression;
  }
  return digit && !malformed ? HexDigits::valid : HexDigits::malformed;
}

// The characters between the quotes packed little-endian; a doubled quote
// stands for one quote and characters past the eighth are dropped. A lone
// quote inside means the text is something else.
bool characterConstant(std::string_view text, std::int64_t& out) noexcept {
  const char quote = text.front();
  const std::string_view inner = text.substr(1, text.size() - 2);
  std::uint64_t value = 0;
  unsigned count = 0;
  for (std::size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == quote) {
      if (i + 1 >= inner.size() || inner[i + 1] != quote) return false;
      ++i;
    }
    if (count < 8) value |= std::uint64_t{static_cast<unsigned char>(inner[i])} << (8 * count++);
  }
  out = static_cast<std::int64_t>(value);
  return true;
}

// The value of digits (underscores allowed) in base 10 or 16 with the sign
// already taken off, under the rules of parseClassifiedInt.
qovrin::Result<std::int64_t> accumulateDigits(std::string_view digits, unsigned base, bool negative) noexcept {
  std::uint64_t magnitude = 0;
  bool digit = false;
  for (const char c : digits) {
    if (c == '_') continue;
    const int d = hexDigitValue(c);
    if (d < 0 || static_cast<unsigned>(d) >= base) return fail(Error::InvalidIntegerLiteral);
    if (__builtin_mul_overflow(magnitude, std::uint64_t{base}, &magnitude) ||
        __builtin_add_overflow(magnitude, static_cast<std::uint64_t>(d), &magnitude))
      return fail(Error::IntegerOverflow);
    digit = true;
  }
  if (!digit) return fail(Error::InvalidIntegerLiteral);
  if (negative) {
    constexpr std::uint64_t kLowest = std::uint64_t{1} << 63;
    if (magnitude > kLowest) return fail(Error::IntegerOverflow);
    return static_cast<std::int64_t>(~magnitude + 1);
  }
  return static_cast<std::int64_t>(magnitude);
}

constexpr bool isQuoted(std::string_view text) noexcept {
  return text.size() >= 2 && isQuote(text.front()) && text.back() == text.front();
}

// A literal without leading complements.
qovrin::Result<bool> readPlainLiteral(std::string_view text, std::int64_t& out) noexcept {
  if (isQuoted(text)) return characterConstant(text, out);

  std::string_view body = text;
  const bool negative = body.front() == '-';
  if (body.front() == '+' || body.front() == '-') {
    body.remove_prefix(1);
    if (body.empty()) return fail(Error::InvalidIntegerLiteral);
  }
  unsigned base = 10;
  std::string_view digits = body;
  const bool prefixed = body.size() >= 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X');
  const bool suffixed = !prefixed && (body.back() == 'h' || body.back() == 'H');
  if (prefixed || suffixed) {
    if (suffixed && !isDecimalDigit(body.front())) return false;
    digits = prefixed ? body.substr(2) : body.substr(0, body.size() - 1);
    switch (classifyHexDigits(digits)) {
      case HexDigits::valid:
        break;
      case HexDigits::malformed:
        return fail(Error::InvalidIntegerLiteral);
      case HexDigits::expression:
        return false;
    }
    base = 16;
  } else {
    bool digit = false;
    for (const char c : body) {
      if (c == '_') continue;
      if (!isDecimalDigit(c)) return false;
      digit = true;
    }
    if (!digit) return false;
  }
  const auto value = accumulateDigits(digits, base, negative);
  if (!value) return fail(value.error());
  out = *value;
  return true;
}

}  // namespace

qovrin::Result<bool> readIntLiteral(std::string_view text, std::int64_t& value) noexcept {
  text = trimOperandText(text);
  // "~X" complements X; a run of them is read without recursion.
  bool complement = false;
  while (!text.empty() && text.front() == '~') {
    complement = !complement;
    text = trimOperandText(text.substr(1));
  }
  if (text.empty()) return false;
  const auto read = readPlainLiteral(text, value);
  if (read && *read && complement) value = ~value;
  return read;
}

bool isCharacterConstant(std::string_view text) noexcept {
  std::int64_t value = 0;
  return isQuoted(text) && characterConstant(text, value);
}

qovrin::Result<std::optional<std::int64_t>> parseIntLiteralForEncode(std::string_view text) noexcept {
  std::int64_t value = 0;
  const auto read = readIntLiteral(text, value);
  if (!read) return fail(read.error());
  if (!*read) return std::nullopt;
  return value;
}

qovrin::Result<std::int64_t> parseClassifiedInt(std::string_view text, unsigned base) noexcept {
  if (base != 10 && base != 16) return fail(Error::InvalidIntegerLiteral);
  text = trimOperandText(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (base == 16) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) text.remove_suffix(1);
  }
  return accumulateDigits(text, base, negative);
}

}  // namespace x86_encoder::api
