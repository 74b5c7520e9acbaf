// Number, date and time tokens of TOML values.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "common/ascii.hpp"
#include "data/toml_cursor.hpp"

namespace data::toml_parser {
namespace {

using qovrin::Error;
using qovrin::fail;
using qovrin::isAsciiDigit;

bool isTokenByte(char c) noexcept {
  return isAsciiDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') || qovrin::isOneOf(c, "+-.:_NOTXZinotxz");
}

bool digitsAt(std::string_view token, std::size_t start, std::size_t count) noexcept {
  if (start + count > token.size()) return false;
  for (std::size_t index = start; index < start + count; ++index)
    if (!isAsciiDigit(token[index])) return false;
  return true;
}

// Past a "." and its digits (none needed) at position, if one is there.
std::size_t skipFraction(std::string_view token, std::size_t position) noexcept {
  if (position >= token.size() || token[position] != '.') return position;
  ++position;
  while (position < token.size() && isAsciiDigit(token[position])) ++position;
  return position;
}

bool isTime(std::string_view token) noexcept {
  if (token.size() == 5) return digitsAt(token, 0, 2) && token[2] == ':' && digitsAt(token, 3, 2);
  if (token.size() < 8 || !digitsAt(token, 0, 2) || token[2] != ':' || !digitsAt(token, 3, 2) || token[5] != ':' ||
      !digitsAt(token, 6, 2))
    return false;
  return skipFraction(token, 8) == token.size();
}

bool isDateTime(std::string_view token) noexcept {
  if (token.size() < 10 || !digitsAt(token, 0, 4)) return false;
  std::size_t position = 4;
  bool full_date = false;
  if (token[4] == '-' && token[7] == '-') {
    position = 10;
    full_date = true;
  } else if (token[4] == '-') {
    position = 7;
  }
  bool has_time = false;
  if (position + 9 <= token.size() && (token[position] == 'T' || token[position] == 't') &&
      token[position + 3] == ':' && token[position + 6] == ':') {
    has_time = true;
    position = skipFraction(token, position + 9);
  }
  if (!full_date && !has_time) return false;
  if (position < token.size() && (token[position] == 'Z' || token[position] == 'z')) {
    ++position;
  } else if (position + 6 <= token.size() && (token[position] == '+' || token[position] == '-') &&
             token[position + 3] == ':') {
    position += 6;
  }
  return position == token.size();
}

// 0x, 0o and 0b integers; none when the token is not one, Overflow when its
// digits are all of the base but the value needs more than 63 bits.
std::optional<qovrin::Result<std::int64_t>> tryParsePrefixedInt(std::string_view token) noexcept {
  if (token.size() < 3 || token[0] != '0') return std::nullopt;
  unsigned shift = 0;
  switch (token[1]) {
    case 'x': case 'X': shift = 4; break;
    case 'o': case 'O': shift = 3; break;
    case 'b': case 'B': shift = 1; break;
    default: return std::nullopt;
  }
  const std::uint64_t base = std::uint64_t{1} << shift;
  std::uint64_t value = 0;
  bool too_wide = false;
  for (const char c : token.substr(2)) {
    if (c == '_') continue;
    std::uint64_t digit = base;
    if (isAsciiDigit(c)) digit = static_cast<std::uint64_t>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint64_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint64_t>(c - 'A' + 10);
    if (digit >= base) return std::nullopt;
    if ((value >> (64 - shift)) != 0) too_wide = true;
    value = (value << shift) | digit;
  }
  if (too_wide || (value >> 63) != 0) return fail(Error::Overflow);
  return static_cast<std::int64_t>(value);
}

// The token without its sign, trimmed of "_" at both ends, with inner "_"
// dropped; none for a "_" directly after the sign. negative says whether a
// "-" was stripped.
std::optional<std::string> digitsWithoutSeparators(std::string_view token, bool& negative) {
  negative = false;
  std::string_view rest = qovrin::trim(token, "_");
  if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
    negative = rest[0] == '-';
    rest.remove_prefix(1);
    if (!rest.empty() && rest[0] == '_') return std::nullopt;
  }
  std::string out;
  out.reserve(rest.size());
  for (const char c : rest)
    if (c != '_') out.push_back(c);
  return out;
}

qovrin::Result<double> tryParseFloat(std::string_view token) {
  bool negative = false;
  const auto digits = digitsWithoutSeparators(token, negative);
  if (!digits || digits->empty()) return fail(Error::Overflow);
  double value = 0;
  const char* end = digits->data() + digits->size();
  const auto [stop, status] = std::from_chars(digits->data(), end, value, std::chars_format::general);
  if (stop != end || !isAsciiDigit((*digits)[0])) return fail(Error::Overflow);
  // Beyond the range of binary64 the rounded result is an infinity or a zero,
  // which from_chars leaves to strtod (the program keeps the "C" locale).
  if (status == std::errc::result_out_of_range) value = std::strtod(digits->c_str(), nullptr);
  else if (status != std::errc()) return fail(Error::Overflow);
  return negative ? -value : value;
}

qovrin::Result<std::int64_t> tryParseInt(std::string_view token) {
  bool negative = false;
  const auto digits = digitsWithoutSeparators(token, negative);
  if (!digits || digits->empty()) return fail(Error::Overflow);
  std::uint64_t magnitude = 0;
  const char* end = digits->data() + digits->size();
  const auto [stop, status] = std::from_chars(digits->data(), end, magnitude);
  if (status != std::errc() || stop != end) return fail(Error::Overflow);
  constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int64_t>::max();
  if (magnitude > kMaxPositive + (negative ? 1 : 0)) return fail(Error::Overflow);
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return magnitude == kMaxPositive + 1 ? std::numeric_limits<std::int64_t>::min()
                                       : -static_cast<std::int64_t>(magnitude);
}

bool hasBasePrefix(std::string_view token) noexcept {
  return token.size() >= 3 && token[0] == '0' && qovrin::isOneOf(qovrin::lowerAscii(token[1]), "box");
}

// The token's value when it is an integer of at most 64 bits written
// without a sign: a decimal one, or one with 0x, 0o or 0b.
std::optional<std::uint64_t> unsignedValue(std::string_view token) noexcept {
  const bool prefixed = hasBasePrefix(token);
  if (token.empty() || !isAsciiDigit(token[0]) || (!prefixed && !isIntString(token))) return std::nullopt;
  int base = 10;
  if (prefixed) base = qovrin::lowerAscii(token[1]) == 'x' ? 16 : qovrin::lowerAscii(token[1]) == 'o' ? 8 : 2;
  std::string digits;
  for (const char c : token.substr(prefixed ? 2 : 0))
    if (c != '_') digits.push_back(c);
  std::uint64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, status] = std::from_chars(digits.data(), end, value, base);
  if (status != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::string describeNumberOverflow(std::string_view text, std::size_t end) {
  end = std::min(end, text.size());
  std::size_t start = end;
  while (start > 0 && isTokenByte(text[start - 1])) --start;
  const std::string_view token = text.substr(start, end - start);
  // Past the signed range but inside 64 bits: written for an unsigned field.
  if (unsignedValue(token))
    return "the number before here is past the largest TOML integer: TOML integers are signed, and the largest is "
           "9223372036854775807";
  std::string_view unsigned_part = token;
  if (!unsigned_part.empty() && (unsigned_part[0] == '+' || unsigned_part[0] == '-')) unsigned_part.remove_prefix(1);
  const bool integer = !unsigned_part.empty() && isAsciiDigit(unsigned_part[0]) &&
                       (hasBasePrefix(token) || isIntString(token));
  if (!integer) return "the number before here does not read as a TOML number";
  return "the number before here does not fit a 64-bit integer";
}

bool isTimestamp(std::string_view token) noexcept { return isTime(token) || isDateTime(token); }

bool isIntString(std::string_view token) noexcept {
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) token.remove_prefix(1);
  if (token.empty()) return false;
  if (token.size() >= 2 && token[0] == '0' && qovrin::isOneOf(qovrin::lowerAscii(token[1]), "box")) return false;
  bool any_digit = false;
  for (const char c : token) {
    if (isAsciiDigit(c)) any_digit = true;
    else if (c != '_') return false;
  }
  return any_digit;
}

qovrin::Result<Node::TomlValue> parseNumberToken(Cursor& cursor) {
  const std::size_t start = cursor.position;
  while (isTokenByte(cursor.peek())) cursor.advance();
  const std::string_view token = cursor.text.substr(start, cursor.position - start);
  if (token.empty()) return fail(Error::Syntax);
  if (isTimestamp(token)) return Node::TomlValue(Timestamp{std::string(token)});
  if (const auto prefixed = tryParsePrefixedInt(token)) {
    if (!*prefixed) return fail(prefixed->error());
    return Node::TomlValue(**prefixed);
  }
  if (token.find_first_of(".eE") != std::string_view::npos) {
    const auto number = tryParseFloat(token);
    if (!number) return fail(number.error());
    return Node::TomlValue(*number);
  }
  if (!isIntString(token)) return fail(Error::Syntax);
  const auto number = tryParseInt(token);
  if (!number) return fail(number.error());
  return Node::TomlValue(*number);
}

}  // namespace data::toml_parser
