#include "spirv_encoder/text_number.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "common/ascii.hpp"

namespace spirv_encoder::text {
namespace {

using qovrin::Error;
using qovrin::fail;

constexpr std::uint32_t kFpEncodingBfloat16 = 0;

int digitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// Digits of one base, at least one, with no room for a value past 64 bits.
qovrin::Result<std::uint64_t> parseDigits(std::string_view digits, unsigned base) noexcept {
  if (digits.empty()) return fail(Error::InvalidInteger);
  std::uint64_t value = 0;
  for (const char c : digits) {
    const int digit = digitValue(c);
    if (digit >= static_cast<int>(base)) return fail(Error::InvalidInteger);
    if (value > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) / base)
      return fail(Error::InvalidInteger);
    value = value * base + static_cast<unsigned>(digit);
  }
  return value;
}

bool hasPrefix(std::string_view token, char letter) noexcept {
  return token.size() >= 2 && token[0] == '0' && qovrin::lowerAscii(token[1]) == letter;
}

std::uint32_t low(std::uint64_t value) noexcept { return static_cast<std::uint32_t>(value); }
std::uint32_t high(std::uint64_t value) noexcept { return static_cast<std::uint32_t>(value >> 32); }

// Splits a leading sign off; the magnitude must start like a number, which
// keeps from_chars' "inf" and "nan" out.
struct SignedText {
  bool negative = false;
  std::string_view magnitude;
};

std::optional<SignedText> splitSign(std::string_view token) noexcept {
  SignedText result;
  if (!token.empty() && (token[0] == '-' || token[0] == '+')) {
    result.negative = token[0] == '-';
    token.remove_prefix(1);
  }
  result.magnitude = token;
  if (token.empty() || !(qovrin::isAsciiDigit(token[0]) || token[0] == '.')) return std::nullopt;
  return result;
}

template <typename T>
qovrin::Result<T> parseFloatingText(std::string_view token) noexcept {
  const auto text = splitSign(token);
  if (!text) return fail(Error::InvalidInteger);
  std::string_view magnitude = text->magnitude;
  std::chars_format format = std::chars_format::general;
  if (hasPrefix(magnitude, 'x')) {
    magnitude.remove_prefix(2);
    format = std::chars_format::hex;
    if (magnitude.empty() || !(digitValue(magnitude[0]) < 16 || magnitude[0] == '.'))
      return fail(Error::InvalidInteger);
  }
  T value{};
  const char* end = magnitude.data() + magnitude.size();
  auto [stop, code] = std::from_chars(magnitude.data(), end, value, format);
  if (stop != end) return fail(Error::InvalidInteger);
  if (code == std::errc::result_out_of_range) {
    // Too small for T rounds to zero; too large is refused. A wider parse
    // tells the two apart.
    long double wide{};
    auto [wide_stop, wide_code] = std::from_chars(magnitude.data(), end, wide, format);
    if (wide_stop != end || wide_code != std::errc{} || std::fabs(wide) >= 1) return fail(Error::InvalidInteger);
    value = 0;
  } else if (code != std::errc{} || !std::isfinite(value)) {
    return fail(Error::InvalidInteger);
  }
  return text->negative ? -value : value;
}

// A binary interchange format: exponent and stored fraction widths.
struct FloatFormat {
  unsigned exponent_bits;
  unsigned fraction_bits;
};

constexpr FloatFormat kHalf{5, 10};
constexpr FloatFormat kSingle{8, 23};
constexpr FloatFormat kDouble{11, 52};

// A hexadecimal literal read exactly: the power of two of its leading one bit
// and up to 64 bits after that bit, left-aligned.
struct HexBits {
  bool negative = false;
  std::int64_t leading_exponent = 0;
  std::uint64_t following = 0;
};

// An exponent this large already lies past every format; capping it keeps
// the arithmetic on it from overflowing.
constexpr std::int64_t kExponentCap = std::int64_t{1} << 40;

// none for text that is not a whole hexadecimal literal or that is zero.
std::optional<HexBits> readHexBits(std::string_view token) noexcept {
  HexBits result;
  if (!token.empty() && (token[0] == '-' || token[0] == '+')) {
    result.negative = token[0] == '-';
    token.remove_prefix(1);
  }
  if (!hasPrefix(token, 'x')) return std::nullopt;
  token.remove_prefix(2);
  const std::size_t mark = token.find_first_of("pP");
  const std::string_view digits = token.substr(0, mark);
  std::int64_t exponent = 0;
  if (mark != std::string_view::npos) {
    std::string_view power = token.substr(mark + 1);
    const bool below = !power.empty() && power[0] == '-';
    if (!power.empty() && (power[0] == '-' || power[0] == '+')) power.remove_prefix(1);
    if (power.empty()) return std::nullopt;
    for (const char c : power) {
      if (!qovrin::isAsciiDigit(c)) return std::nullopt;
      exponent = std::min(exponent * 10 + (c - '0'), kExponentCap);
    }
    if (below) exponent = -exponent;
  }
  const std::size_t point = digits.find('.');
  const std::size_t whole_digits = point == std::string_view::npos ? digits.size() : point;
  bool seen_digit = false;
  bool seen_one = false;
  unsigned taken = 0;
  std::int64_t place = static_cast<std::int64_t>(whole_digits);
  for (std::size_t index = 0; index < digits.size(); ++index) {
    if (index == point) continue;
    const int digit = digitValue(digits[index]);
    if (digit > 15) return std::nullopt;
    seen_digit = true;
    --place;
    for (int bit = 3; bit >= 0; --bit) {
      const bool set = ((digit >> bit) & 1) != 0;
      if (!seen_one) {
        if (!set) continue;
        seen_one = true;
        result.leading_exponent = 4 * place + bit + exponent;
      } else if (taken < 64) {
        if (set) result.following |= std::uint64_t{1} << (63 - taken);
        ++taken;
      }
    }
  }
  if (!seen_digit || !seen_one) return std::nullopt;
  return result;
}

// The encoding of a hexadecimal literal that does not give a finite value of
// the format. One whose leading bit lies just one step past the largest
// finite exponent takes the all-ones exponent with the next fraction bits as
// written, cut off (zero bits make an infinity, any other a NaN with that
// payload), as spirv-as reads it; further out, an infinity. Disassemblers
// write infinities and NaNs this way. One in the largest finite binade that
// rounds to nearest past the largest finite value (every fraction bit and
// the bit below them set, so even a tie goes up) is an infinity too, as
// rounding makes it. none for every other literal.
std::optional<std::uint64_t> hexPastFinite(std::string_view token, FloatFormat format) noexcept {
  const auto bits = readHexBits(token);
  if (!bits) return std::nullopt;
  const std::int64_t first_past = std::int64_t{1} << (format.exponent_bits - 1);
  const std::uint64_t carries = ~std::uint64_t{0} << (63 - format.fraction_bits);
  if (bits->leading_exponent < first_past - 1) return std::nullopt;
  if (bits->leading_exponent == first_past - 1 && (bits->following & carries) != carries) return std::nullopt;
  const unsigned width = 1 + format.exponent_bits + format.fraction_bits;
  const std::uint64_t exponent = ((std::uint64_t{1} << format.exponent_bits) - 1) << format.fraction_bits;
  const std::uint64_t fraction =
      bits->leading_exponent == first_past ? bits->following >> (64 - format.fraction_bits) : 0;
  const std::uint64_t sign = bits->negative ? std::uint64_t{1} << (width - 1) : 0;
  return sign | exponent | fraction;
}

// Rounds a double to binary16, nearest even; none when it overflows.
std::optional<std::uint16_t> halfFromDouble(double value) noexcept {
  const std::uint16_t sign = std::signbit(value) ? 0x8000 : 0;
  const double magnitude = std::fabs(value);
  if (magnitude < 0x1p-14) {
    // Subnormal: units of 2^-24; a count of 1024 is the smallest normal, whose
    // encoding is the same number.
    return static_cast<std::uint16_t>(sign | static_cast<std::uint16_t>(std::nearbyint(magnitude * 0x1p24)));
  }
  int exponent = 0;
  std::frexp(magnitude, &exponent);
  --exponent;  // magnitude = 1.f * 2^exponent
  double mantissa = std::nearbyint(std::ldexp(magnitude, 10 - exponent));
  if (mantissa >= 2048) {
    mantissa = 1024;
    ++exponent;
  }
  if (exponent > 15) return std::nullopt;
  return static_cast<std::uint16_t>(sign | static_cast<std::uint16_t>((exponent + 15) << 10) |
                                    static_cast<std::uint16_t>(static_cast<unsigned>(mantissa) - 1024));
}

qovrin::Status appendInteger(std::vector<std::uint32_t>& words, std::string_view token, const ScalarType& type) {
  const std::uint32_t width = type.width;
  if (width < 1 || width > 64) return fail(Error::InvalidInteger);
  std::uint64_t bits = 0;
  if (type.is_signed) {
    const auto value = parseSigned(token);
    if (!value) return fail(value.error());
    if (width < 64) {
      const std::int64_t limit = std::int64_t{1} << (width - 1);
      if (*value >= limit || *value < -limit) return fail(Error::InvalidInteger);
    }
    bits = static_cast<std::uint64_t>(*value);
  } else {
    const auto value = parseUnsigned(token, width);
    if (!value) return fail(value.error());
    bits = *value;
  }
  words.push_back(low(bits));
  if (width > 32) words.push_back(high(bits));
  return {};
}

qovrin::Status appendFloat(std::vector<std::uint32_t>& words, std::string_view token, const ScalarType& type) {
  if (type.encoding) {
    if (*type.encoding != kFpEncodingBfloat16 || type.width != 16) return fail(Error::InvalidInteger);
    const auto bits = parseBfloat16(token);
    if (!bits) return fail(bits.error());
    words.push_back(*bits);
    return {};
  }
  switch (type.width) {
    case 16: {
      const auto bits = parseFloat16(token);
      if (!bits) return fail(bits.error());
      words.push_back(*bits);
      return {};
    }
    case 32: {
      const auto bits = parseFloat32(token);
      if (!bits) return fail(bits.error());
      words.push_back(*bits);
      return {};
    }
    case 64: {
      const auto bits = parseFloat64(token);
      if (!bits) return fail(bits.error());
      words.push_back(low(*bits));
      words.push_back(high(*bits));
      return {};
    }
    default:
      return fail(Error::InvalidInteger);
  }
}

}  // namespace

qovrin::Result<std::uint64_t> parseUnsigned(std::string_view token, unsigned bits) noexcept {
  const bool hex = hasPrefix(token, 'x');
  const auto value = hex ? parseDigits(token.substr(2), 16) : parseDigits(token, 10);
  if (!value) return value;
  if (bits < 64 && *value >> bits != 0) return fail(Error::InvalidInteger);
  return value;
}

qovrin::Result<std::uint32_t> parseWord(std::string_view token) noexcept {
  const auto value = parseUnsigned(token, 32);
  if (!value) return fail(value.error());
  return static_cast<std::uint32_t>(*value);
}

qovrin::Result<std::int64_t> parseSigned(std::string_view token) noexcept {
  bool negative = false;
  if (!token.empty() && (token[0] == '-' || token[0] == '+')) {
    negative = token[0] == '-';
    token.remove_prefix(1);
  }
  unsigned base = 10;
  if (hasPrefix(token, 'x')) base = 16;
  if (hasPrefix(token, 'o')) base = 8;
  if (hasPrefix(token, 'b')) base = 2;
  const auto magnitude = parseDigits(base == 10 ? token : token.substr(2), base);
  if (!magnitude) return fail(magnitude.error());
  constexpr std::uint64_t kMinimumMagnitude = std::uint64_t{1} << 63;
  if (negative) {
    if (*magnitude > kMinimumMagnitude) return fail(Error::InvalidInteger);
    return static_cast<std::int64_t>(~*magnitude + 1);
  }
  if (*magnitude >= kMinimumMagnitude) return fail(Error::InvalidInteger);
  return static_cast<std::int64_t>(*magnitude);
}

qovrin::Result<std::uint16_t> parseFloat16(std::string_view token) noexcept {
  if (const auto special = hexPastFinite(token, kHalf)) return static_cast<std::uint16_t>(*special);
  const auto value = parseFloatingText<double>(token);
  if (!value) return fail(value.error());
  const auto bits = halfFromDouble(*value);
  if (!bits) return fail(Error::InvalidInteger);
  return *bits;
}

qovrin::Result<std::uint16_t> parseBfloat16(std::string_view token) noexcept {
  const auto value = parseFloatingText<float>(token);
  if (!value) return fail(value.error());
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(*value);
  const std::uint32_t rounded = (bits + 0x7FFFu + ((bits >> 16) & 1u)) >> 16;
  if ((rounded & 0x7F80u) == 0x7F80u) return fail(Error::InvalidInteger);
  return static_cast<std::uint16_t>(rounded);
}

qovrin::Result<std::uint32_t> parseFloat32(std::string_view token) noexcept {
  if (const auto special = hexPastFinite(token, kSingle)) return static_cast<std::uint32_t>(*special);
  const auto value = parseFloatingText<float>(token);
  if (!value) return fail(value.error());
  return std::bit_cast<std::uint32_t>(*value);
}

qovrin::Result<std::uint64_t> parseFloat64(std::string_view token) noexcept {
  if (const auto special = hexPastFinite(token, kDouble)) return *special;
  const auto value = parseFloatingText<double>(token);
  if (!value) return fail(value.error());
  return std::bit_cast<std::uint64_t>(*value);
}

qovrin::Status appendTypedNumber(std::vector<std::uint32_t>& words, std::string_view token,
                                 std::optional<ScalarType> type) {
  if (type) {
    if (type->kind == ScalarType::Kind::integer) return appendInteger(words, token, *type);
    return appendFloat(words, token, *type);
  }
  if (token.find_first_of(".pP") != std::string_view::npos) {
    const auto bits = parseFloat32(token);
    if (!bits) return fail(bits.error());
    words.push_back(*bits);
    return {};
  }
  const auto word = parseWord(token);
  if (!word) return fail(word.error());
  words.push_back(*word);
  return {};
}

}  // namespace spirv_encoder::text
