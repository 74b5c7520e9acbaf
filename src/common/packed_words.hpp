#pragma once
// Short words packed into one integer each, in lower case, so that a fixed
// list of them (registers, keywords) is searched by halving a sorted table
// rather than by comparing texts one after another. Word characters are never
// 0, so the zero padding keeps words of different lengths apart.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/ascii.hpp"

namespace qovrin {

inline constexpr std::size_t kLongestPackedWord = 8;

// The word must have at most kLongestPackedWord characters.
constexpr std::uint64_t packLowerWord(std::string_view word) noexcept {
  std::uint64_t packed = 0;
  for (const char c : word) packed = (packed << 8) | static_cast<unsigned char>(lowerAscii(c));
  return packed << (8 * (kLongestPackedWord - word.size()));
}

template <std::size_t Count>
constexpr std::array<std::uint64_t, Count> packedWordSet(const std::array<std::string_view, Count>& words) {
  std::array<std::uint64_t, Count> packed{};
  for (std::size_t index = 0; index < Count; ++index) packed[index] = packLowerWord(words[index]);
  std::ranges::sort(packed);
  return packed;
}

// Whether the word, ignoring ASCII case, is one of the set's words.
inline bool inPackedWordSet(std::span<const std::uint64_t> set, std::string_view word) noexcept {
  if (word.empty() || word.size() > kLongestPackedWord) return false;
  return std::ranges::binary_search(set, packLowerWord(word));
}

}  // namespace qovrin
