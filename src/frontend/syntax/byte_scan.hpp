#pragma once
// The first of a few given bytes, found eight bytes at a time. Scans over
// the short words of a source line stop at a place that differs from line to
// line: a loop over bytes mispredicts its exit at each stop, while a test of
// a whole word mostly runs once. A byte loop here: 448M -> 464M instructions
// (callgrind) on a 100,000-line bench/x86_throughput.py plain source.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace frontend::byte_scan {

namespace detail {

inline constexpr std::uint64_t kOnes = 0x0101'0101'0101'0101ull;
inline constexpr std::uint64_t kLow7 = 0x7F7F'7F7F'7F7F'7F7Full;

// Bit 7 of every byte of word that equals c, and no other bit. Exact per
// byte: the sum of the low seven bits never carries into the next byte.
constexpr std::uint64_t equalBytes(std::uint64_t word, char c) noexcept {
  const std::uint64_t x = word ^ (kOnes * static_cast<unsigned char>(c));
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

inline std::uint64_t loadWord(const char* at) noexcept {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

}  // namespace detail

// The position of the first byte from from (at most text.size()) on that is
// one of Cs, or text.size() when none is.
template <char... Cs>
[[gnu::always_inline]] inline std::size_t findFirstOf(std::string_view text, std::size_t from) noexcept {
  std::size_t at = from;
  if constexpr (std::endian::native == std::endian::little) {
    const auto hits = [](std::uint64_t word) { return (detail::equalBytes(word, Cs) | ...); };
    for (; text.size() - at >= 8; at += 8)
      if (const std::uint64_t found = hits(detail::loadWord(text.data() + at)))
        return at + static_cast<std::size_t>(std::countr_zero(found)) / 8;
    // The last eight bytes of the text, with those before at left out.
    if (at < text.size() && text.size() >= 8) {
      const std::size_t start = text.size() - 8;
      const std::uint64_t found = hits(detail::loadWord(text.data() + start)) & (~std::uint64_t{0} << (8 * (at - start)));
      return found != 0 ? start + static_cast<std::size_t>(std::countr_zero(found)) / 8 : text.size();
    }
  }
  for (; at < text.size(); ++at)
    if (((text[at] == Cs) || ...)) return at;
  return text.size();
}

}  // namespace frontend::byte_scan
