#include "frontend/syntax/expr_number.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

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

// digits ( "." digits [exponent] | exponent )
bool hasFloatShape(std::string_view token) noexcept {
  std::size_t index = 0;
  if (!skipDigitGroup(token, index)) return false;
  if (index < token.size() && token[index] == '.') {
    ++index;
    if (!skipDigitGroup(token, index)) return false;
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

// The radix rules apply to the normalised text; their order decides between
// readings such as "0b1" (prefix) and "101b" (suffix).
qovrin::Result<std::uint64_t> readInteger(std::string_view text) {
  if (text.empty()) return qovrin::fail(qovrin::Error::InvalidNumber);
  if (text.starts_with("0x") || text.starts_with("0h")) return readDigits(text.substr(2), 16);
  const std::string_view body = text.substr(0, text.size() - 1);
  switch (text.back()) {
    case 'b':
      return readDigits(body, 2);
    case 'h':
      return readDigits(body, 16);
    case 'o':
      return readDigits(body, 8);
    default:
      break;
  }
  if (text.size() == 1) return readDigits(text, 10);
  if (text.starts_with("0b")) return readDigits(text.substr(2), 2);
  if (text.starts_with("0o")) return readDigits(text.substr(2), 8);
  if (text.front() == '0') {
    if (auto octal = readDigits(text.substr(1), 8)) return octal;
  }
  return readDigits(text, 10);
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
  char quote = 0;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char c = text[index];
    const bool after_word = index > 0 && (isAsciiLetter(text[index - 1]) || isAsciiDigit(text[index - 1]) ||
                                          text[index - 1] == '_' || text[index - 1] == '.');
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    // A quote after a digit separates digits.
    if ((c == '"' || c == '\'') && !after_word) {
      quote = c;
      continue;
    }
    if (!isAsciiDigit(c) || after_word) continue;
    const std::size_t end = numberTokenEnd(text, index);
    const std::string_view token = text.substr(index, end - index);
    if (!readNumberToken(token)) return token;
    index = end - 1;
  }
  return std::nullopt;
}

}  // namespace frontend::expr
