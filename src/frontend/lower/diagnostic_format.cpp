#include "frontend/lower/diagnostic_format.hpp"

#include <cstdint>

namespace frontend::lower::diagnostic_format {

namespace {

template <typename Character>
void appendQuoted(std::string& out, std::span<const Character> text) {
  out.push_back('"');
  for (const Character c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(static_cast<char>(c));
  }
  out.push_back('"');
}

}  // namespace

std::string formatStringLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  appendQuoted(out, std::span<const char>(text.data(), text.size()));
  return out;
}

std::string formatBytesValue(std::span<const std::uint8_t> bytes) {
  std::string out = "b";
  out.reserve(bytes.size() + 3);
  appendQuoted(out, bytes);
  return out;
}

}  // namespace frontend::lower::diagnostic_format
