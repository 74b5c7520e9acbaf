#include <array>
#include <charconv>
#include <cmath>

#include "frontend/values/value.hpp"

namespace frontend::value {

namespace {

// Longest text: "-0." followed by 323 zeros and one digit for the smallest
// subnormal double; the largest double has 309 integer digits plus ".0".
constexpr std::size_t kFloatTextCapacity = 400;

// Rewrites the shortest scientific form that to_chars produces ("d.ddde+XX")
// as plain positional decimal, keeping the digits exactly.
template <typename Float>
void appendPlainDecimal(std::string& out, Float number) {
  if (std::isnan(number) || std::isinf(number)) {
    if (std::signbit(number)) out += '-';
    out += std::isnan(number) ? "nan.0" : "inf.0";
    return;
  }
  std::array<char, 64> scientific;
  const auto converted =
      std::to_chars(scientific.data(), scientific.data() + scientific.size(), number, std::chars_format::scientific);
  const std::string_view text(scientific.data(), static_cast<std::size_t>(converted.ptr - scientific.data()));

  std::array<char, 32> digits;
  std::size_t digit_count = 0;
  std::size_t position = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) position = 1;
  for (; position < text.size() && text[position] != 'e'; ++position)
    if (text[position] != '.') digits[digit_count++] = text[position];
  int exponent = 0;
  // Skip "e" and an explicit plus sign, which from_chars does not accept.
  position += 1;
  if (position < text.size() && text[position] == '+') ++position;
  std::from_chars(text.data() + position, text.data() + text.size(), exponent);

  std::array<char, kFloatTextCapacity> plain;
  std::size_t length = 0;
  const auto put = [&](char character) { plain[length++] = character; };
  if (negative) put('-');
  // Number of digits in front of the point.
  const long integer_digits = static_cast<long>(exponent) + 1;
  const long count = static_cast<long>(digit_count);
  if (integer_digits <= 0) {
    put('0');
    put('.');
    for (long zero = 0; zero < -integer_digits; ++zero) put('0');
    for (long index = 0; index < count; ++index) put(digits[index]);
  } else if (integer_digits >= count) {
    for (long index = 0; index < count; ++index) put(digits[index]);
    for (long zero = count; zero < integer_digits; ++zero) put('0');
    put('.');
    put('0');
  } else {
    for (long index = 0; index < count; ++index) {
      if (index == integer_digits) put('.');
      put(digits[index]);
    }
  }
  out.append(plain.data(), length);
}

}  // namespace

void appendFloatLiteral(std::string& out, double number) { appendPlainDecimal(out, number); }
void appendFloatLiteral(std::string& out, float number) { appendPlainDecimal(out, number); }

std::string formatFloatLiteral(double number) {
  std::string text;
  appendFloatLiteral(text, number);
  return text;
}

std::string formatFloatLiteral(float number) {
  std::string text;
  appendFloatLiteral(text, number);
  return text;
}

std::string formatFloat32Literal(float number) {
  std::string text = "f32(";
  appendFloatLiteral(text, number);
  text += ')';
  return text;
}

}  // namespace frontend::value
