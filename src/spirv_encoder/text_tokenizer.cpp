#include <cstdint>

#include "spirv_encoder/text.hpp"

namespace spirv_encoder::text {
namespace {

// Space, tab, CR and LF. Tokens are mostly printable characters, which the
// first comparison rules out.
constexpr bool isBlank(char c) noexcept {
  constexpr std::uint64_t kBlankBits = (1ull << ' ') | (1ull << '\t') | (1ull << '\r') | (1ull << '\n');
  const auto byte = static_cast<unsigned char>(c);
  return byte <= ' ' && ((kBlankBits >> byte) & 1u) != 0;
}

}  // namespace

std::optional<std::string_view> Tokenizer::nextRaw() noexcept {
  const std::size_t size = text.size();
  while (position < size && isBlank(text[position])) ++position;
  if (position >= size) return std::nullopt;
  const std::size_t start = position;
  if (text[position] == '"') {
    ++position;
    while (position < size && text[position] != '"') position += text[position] == '\\' ? 2 : 1;
    position = position < size ? position + 1 : size;
  } else {
    while (position < size && !isBlank(text[position])) ++position;
  }
  return text.substr(start, position - start);
}

}  // namespace spirv_encoder::text
