#include "common/ascii.hpp"
#include "spirv_encoder/text.hpp"

namespace spirv_encoder::text {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

}  // namespace

std::optional<std::string_view> Tokenizer::nextRaw() noexcept {
  const std::size_t size = text.size();
  while (position < size && qovrin::isOneOf(text[position], kBlanks)) ++position;
  if (position >= size) return std::nullopt;
  const std::size_t start = position;
  if (text[position] == '"') {
    ++position;
    while (position < size && text[position] != '"') position += text[position] == '\\' ? 2 : 1;
    position = position < size ? position + 1 : size;
  } else {
    while (position < size && !qovrin::isOneOf(text[position], kBlanks)) ++position;
  }
  return text.substr(start, position - start);
}

}  // namespace spirv_encoder::text
