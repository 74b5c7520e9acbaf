#include "frontend/syntax/expr_number.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "common/display_text.hpp"
#include "common/quoted_text.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/plain_number.hpp"

namespace frontend::expr {
namespace {

using identifier::isAsciiDigit;
using identifier::isAsciiLetter;

constexpr bool isSeparator(char c) noexcept { return c == '_' || c == '\''; }

using qovrin::lowerAscii;

bool isRadixPrefixed(std::string_view text, std::size_t start) noexcept {
  if (text[start] != '0' || start + 1 >= text.size()) return false;
  switch (lowerAscii(text[start + 1])) {
    case 'x':
    case 'h':
    case 'b':
    case 'o':
      return true;
    default:
      return false;
  }
}

// Skips one digit group (a digit, then digits and separators, ending on a
// digit) starting at `index`; returns false when there is none.
bool skipDigitGroup(std::string_view token, std::size_t& index) noexcept {
  if (index >= token.size() || !isAsciiDigit(token[index])) return false;
  std::size_t last_digit = index;
  for (std::size_t at = index; at < token.size() && (isAsciiDigit(token[at]) || isSeparator(token[at])); ++at)
    if (isAsciiDigit(token[at])) last_digit = at;
  index = last_digit + 1;
  return true;
}

bool skipExponent(std::string_view token, std::size_t& index) noexcept {
  if (index >= token.size() || (token[index] != 'e' && token[index] != 'E')) return false;
  std::size_t at = index + 1;
  if (at < token.size() && (token[at] == '+' || token[at] == '-')) ++at;
  if (!skipDigitGroup(token, at)) return false;
  index = at;
  return true;
}

// Skips digits and, when a '.' follows them, the fraction's digits; returns
// false when either group is missing. `fraction` tells whether one was taken.
bool skipMantissa(std::string_view token, std::size_t& index, bool& fraction) noexcept {
  if (!skipDigitGroup(token, index)) return false;
  fraction = index < token.size() && token[index] == '.';
  if (!fraction) return true;
  ++index;
  return skipDigitGroup(token, index);
}

// digits ( "." digits [exponent] | exponent )
bool hasFloatShape(std::string_view token) noexcept {
  std::size_t index = 0;
  bool fraction = false;
  if (!skipMantissa(token, index, fraction)) return false;
  if (fraction) {
    skipExponent(token, index);
  } else if (!skipExponent(token, index)) {
    return false;
  }
  return index == token.size();
}

int digitValue(char c) noexcept {
  if (isAsciiDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return 99;
}

qovrin::Result<std::uint64_t> readDigits(std::string_view digits, unsigned radix) {
  if (digits.empty()) return qovrin::fail(qovrin::Error::InvalidNumber);
  std::uint64_t value = 0;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  for (const char c : digits) {
    const int digit = digitValue(c);
    if (digit >= static_cast<int>(radix)) return qovrin::fail(qovrin::Error::InvalidNumber);
    const auto d = static_cast<std::uint64_t>(digit);
    if (value > (kMax - d) / radix) return qovrin::fail(qovrin::Error::InvalidNumber);
    value = value * radix + d;
  }
  return value;
}

// How the radix rules split a normalised integer text: the digits, their
// radix and the suffix letter that chose it (0 when none did). A text with a
// leading 0 is octal only when every digit is one; `decimal_fallback` marks
// that reading, which falls back to decimal.
struct IntegerSpelling {
  std::string_view digits;
  unsigned radix = 10;
  char suffix = 0;
  bool decimal_fallback = false;
};

// The rules' order decides between readings such as "0b1" (prefix) and
// "101b" (suffix).
IntegerSpelling integerSpelling(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0h")) return {text.substr(2), 16};
  const std::string_view body = text.substr(0, text.size() - 1);
  switch (text.back()) {
    case 'b':
      return {body, 2, 'b'};
    case 'h':
      return {body, 16, 'h'};
    case 'o':
      return {body, 8, 'o'};
    default:
      break;
  }
  if (text.size() == 1) return {text};
  if (text.starts_with("0b")) return {text.substr(2), 2};
  if (text.starts_with("0o")) return {text.substr(2), 8};
  if (text.front() == '0') return {text.substr(1), 8, 0, true};
  return {text};
}

qovrin::Result<std::uint64_t> readInteger(std::string_view text) {
  if (text.empty()) return qovrin::fail(qovrin::Error::InvalidNumber);
  const IntegerSpelling spelling = integerSpelling(text);
  auto value = readDigits(spelling.digits, spelling.radix);
  if (!value && spelling.decimal_fallback) return readDigits(text, 10);
  return value;
}

// The float literal left unfinished by an exponent letter with no digits
// after it ("1e", "1.5e+"), as a token that is not radix-prefixed.
bool endsInBareExponent(std::string_view token) noexcept {
  std::size_t index = 0;
  bool fraction = false;
  if (!skipMantissa(token, index, fraction)) return false;
  if (index >= token.size() || (token[index] != 'e' && token[index] != 'E')) return false;
  std::size_t digits = index + 1;
  if (digits < token.size() && (token[digits] == '+' || token[digits] == '-')) ++digits;
  return digits >= token.size() || !isAsciiDigit(token[digits]);
}

std::string_view radixName(unsigned radix) noexcept {
  switch (radix) {
    case 2:
      return "binary";
    case 8:
      return "octal";
    case 16:
      return "hex";
    default:
      return "decimal";
  }
}

// The character of `token` that stands at `index` of its normalised text,
// as written (the normalised text has no separators and is lower case).
char writtenAt(std::string_view token, std::size_t index) noexcept {
  for (const char c : token) {
    if (isSeparator(c)) continue;
    if (index == 0) return c;
    --index;
  }
  return '?';
}

// Decimal order of magnitude of a normalised float text whose value is not
// zero: positive when the value is at least 1. Only its sign is used, to tell
// an overflow from an underflow.
long long decimalOrder(std::string_view text) noexcept {
  const std::size_t exponent_at = text.find('e');
  const std::string_view mantissa = text.substr(0, exponent_at);
  long long order = 0;
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first_nonzero = mantissa.find_first_not_of("0.");
  if (first_nonzero != std::string_view::npos) {
    order = first_nonzero < point ? static_cast<long long>(point - first_nonzero)
                                  : -static_cast<long long>(first_nonzero - point - 1);
  }
  if (exponent_at == std::string_view::npos) return order;
  constexpr long long kClamp = 1'000'000'000;
  std::size_t at = exponent_at + 1;
  const bool negative = at < text.size() && text[at] == '-';
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
  long long exponent = 0;
  for (; at < text.size(); ++at) exponent = std::min(kClamp, exponent * 10 + (text[at] - '0'));
  return order + (negative ? -exponent : exponent);
}

qovrin::Result<double> readFloat(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    if (decimalOrder(text) > 0) return qovrin::fail(qovrin::Error::InvalidNumber);
    return 0.0;
  }
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return qovrin::fail(qovrin::Error::InvalidNumber);
  return value;
}

}  // namespace

std::string normalizeNumberToken(std::string_view token) {
  std::string normalized;
  normalized.reserve(token.size());
  for (const char c : token)
    if (!isSeparator(c)) normalized.push_back(lowerAscii(c));
  return normalized;
}

std::size_t numberTokenEnd(std::string_view text, std::size_t start) noexcept {
  const bool prefixed = isRadixPrefixed(text, start);
  std::size_t index = start;
  while (index < text.size()) {
    const char c = text[index];
    if (isAsciiLetter(c) || isAsciiDigit(c) || isSeparator(c)) {
      ++index;
    } else if (c == '.' && index + 1 < text.size() && isAsciiDigit(text[index + 1])) {
      ++index;
    } else if (!prefixed && (c == '+' || c == '-') && (text[index - 1] == 'e' || text[index - 1] == 'E')) {
      ++index;
    } else {
      break;
    }
  }
  return index;
}

qovrin::Result<Node> readNumberToken(std::string_view token) {
  // Most tokens are plain and need no normalised copy.
  if (const auto plain = plain_number::readWhole(token)) return Node::integerLiteral(*plain);
  const std::string normalized = normalizeNumberToken(token);
  if (hasFloatShape(token)) {
    auto value = readFloat(normalized);
    if (!value) return qovrin::fail(value.error());
    return Node::floatLiteral(*value);
  }
  auto value = readInteger(normalized);
  if (!value) return qovrin::fail(value.error());
  return Node::integerLiteral(*value);
}

std::optional<std::string_view> unreadableNumberToken(std::string_view text) {
  using qovrin::quoted_text::kSource;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char c = text[index];
    if (qovrin::quoted_text::opener(kSource, text, index) != 0) {
      index = qovrin::quoted_text::closingQuote(kSource, text, index);
      if (index == std::string_view::npos) return std::nullopt;
      continue;
    }
    const bool after_word = index > 0 && (isAsciiLetter(text[index - 1]) || isAsciiDigit(text[index - 1]) ||
                                          text[index - 1] == '_' || text[index - 1] == '.');
    if (!isAsciiDigit(c) || after_word) continue;
    const std::size_t end = numberTokenEnd(text, index);
    const std::string_view token = text.substr(index, end - index);
    if (!readNumberToken(token)) return token;
    index = end - 1;
  }
  return std::nullopt;
}

std::string unreadableNumberCause(std::string_view token) {
  if (token.empty()) return "no digits";
  if (hasFloatShape(token)) return "an f64 reaches only about 1.8e308";
  if (!isRadixPrefixed(token, 0) && endsInBareExponent(token)) {
    const std::size_t exponent = token.find_first_of("eE");
    return "no digits follow the exponent '" + std::string(1, token[exponent]) + "'";
  }
  const std::string normalized = normalizeNumberToken(token);
  IntegerSpelling spelling = integerSpelling(normalized);
  if (spelling.decimal_fallback && !readDigits(spelling.digits, spelling.radix)) spelling = {normalized};
  if (spelling.digits.empty()) return "no digits follow '" + std::string(token.substr(0, 2)) + "'";
  const std::size_t start = static_cast<std::size_t>(spelling.digits.data() - normalized.data());
  for (std::size_t index = 0; index < spelling.digits.size(); ++index) {
    if (digitValue(spelling.digits[index]) < static_cast<int>(spelling.radix)) continue;
    std::string cause = "'" + std::string(1, writtenAt(token, start + index)) + "' is no " +
                        std::string(radixName(spelling.radix)) + " digit";
    if (spelling.suffix != 0)
      cause += ": a number that ends in '" + std::string(1, spelling.suffix) + "' is read as " +
               std::string(radixName(spelling.radix));
    return cause;
  }
  return "integers have at most 64 bits";
}

std::optional<std::string> unreadableNumberNote(std::string_view text) {
  const auto token = unreadableNumberToken(text);
  if (!token) return std::nullopt;
  return qovrin::quotedSubject(*token) + " does not read as a number: " + unreadableNumberCause(*token);
}

}  // namespace frontend::expr
