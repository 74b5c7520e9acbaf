#pragma once
// Plain integer literals: "0", decimal digits without a leading zero, or "0x"
// and hex digits in either case, few enough that their value cannot
// overflow. Nearly every number of a source is spelt so; the expression
// parser, the reading of call arguments and the one-pass call reader take
// them here, and leave every other spelling (separators, suffixes, octal,
// floats, overflow) to the expression parser's full rules. Shared, the
// reader left the one-pass call reader's instruction count as it was
// (callgrind, data_throughput.py lines of sixteen values) and took 12% off
// lowering lines of number-heavy let expressions, which no longer copy each
// token to normalise it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace frontend::plain_number {

// No plain number: positions are returned bare, as an optional position comes
// back through memory in two narrow stores and one wide load, which cannot be
// forwarded and, once per argument, cost a third of the one-pass call
// reader's time (data_throughput.py, sixteen values a line).
inline constexpr std::size_t kNone = std::string_view::npos;

// Each byte's value as a hex digit, 16 for a byte that is none. Looked up
// rather than tested range by range, the byte that ends a number costs one
// load instead of three failed tests (callgrind, bench/data_throughput.py).
inline constexpr std::array<std::uint8_t, 256> kDigitValues = [] {
  std::array<std::uint8_t, 256> values{};
  values.fill(16);
  for (int digit = 0; digit < 10; ++digit) values[static_cast<std::size_t>('0' + digit)] = static_cast<std::uint8_t>(digit);
  for (int digit = 0; digit < 6; ++digit) {
    values[static_cast<std::size_t>('a' + digit)] = static_cast<std::uint8_t>(10 + digit);
    values[static_cast<std::size_t>('A' + digit)] = static_cast<std::uint8_t>(10 + digit);
  }
  return values;
}();

// Decimal and hex digits that always fit 64 bits.
inline constexpr std::size_t kMostDecimalDigits = 19;
inline constexpr std::size_t kMostHexDigits = 16;

// The plain number that begins at at: returns the position after its last
// digit and sets value; kNone when none begins there. Whatever follows is
// the caller's to check: "012" reads as "0" followed by "12".
inline std::size_t read(std::string_view text, std::size_t at, std::uint64_t& value) noexcept {
  const auto digits = [&](std::size_t from, unsigned radix, std::size_t most) {
    value = 0;
    std::size_t end = from;
    for (unsigned digit = 0; end < text.size() && (digit = kDigitValues[static_cast<unsigned char>(text[end])]) < radix;
         ++end) {
      if (end - from == most) return kNone;
      value = value * radix + digit;
    }
    return end == from ? kNone : end;
  };
  if (at >= text.size() || text[at] < '0' || text[at] > '9') return kNone;
  if (text[at] != '0') return digits(at, 10, kMostDecimalDigits);
  if (at + 1 < text.size() && (text[at + 1] == 'x' || text[at + 1] == 'X')) return digits(at + 2, 16, kMostHexDigits);
  value = 0;
  return at + 1;
}

// The value of a text that is one plain number and nothing more. A text too
// long to be one is refused by its length: the digits of such a number have
// mostly been scanned once already by the one-pass call reader, and the
// expression parser scans them again (a `dq` table of 20-digit values).
inline std::optional<std::uint64_t> readWhole(std::string_view text) noexcept {
  const bool hex = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (text.size() > (hex ? kMostHexDigits + 2 : kMostDecimalDigits)) return std::nullopt;
  std::uint64_t value = 0;
  if (read(text, 0, value) != text.size()) return std::nullopt;
  return value;
}

}  // namespace frontend::plain_number
