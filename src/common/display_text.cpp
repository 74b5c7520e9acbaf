#include "common/display_text.hpp"

#include <cstdint>

namespace qovrin {

namespace {

// Length of the well-formed UTF-8 sequence at the start of text, or 0.
std::size_t sequenceLength(std::string_view text) noexcept {
  const auto byte = [&](std::size_t index) { return static_cast<std::uint8_t>(text[index]); };
  const std::uint8_t lead = byte(0);
  std::size_t length = 0;
  std::uint32_t point = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t index = 1; index < length; ++index) {
    if ((byte(index) & 0xC0u) != 0x80u) return 0;
    point = (point << 6) | (byte(index) & 0x3Fu);
  }
  // Overlong forms, surrogates and points past U+10FFFF are not UTF-8.
  const std::uint32_t smallest = length == 2 ? 0x80u : length == 3 ? 0x800u : 0x10000u;
  if (point < smallest || (point >= 0xD800u && point <= 0xDFFFu) || point > 0x10FFFFu) return 0;
  return length;
}

bool invisible(std::string_view sequence) noexcept {
  const auto lead = static_cast<std::uint8_t>(sequence[0]);
  if (sequence.size() == 1) return lead < 0x20 || lead == 0x7F;
  if (sequence.size() == 2) return lead == 0xC2 && static_cast<std::uint8_t>(sequence[1]) < 0xA0;
  return sequence == "\xEF\xBB\xBF";
}

void appendEscaped(std::string& out, std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

}  // namespace

std::string shownSubject(std::string_view text) {
  std::string out;
  if (text.size() <= kShownSubjectBytes) {
    out += text;
  } else {
    std::size_t cut = kShownSubjectBytes;
    // Step back over continuation bytes to the start of the cut sequence.
    while (cut > 0 && (static_cast<std::uint8_t>(text[cut]) & 0xC0u) == 0x80u) --cut;
    if (cut == 0) cut = kShownSubjectBytes;
    out += text.substr(0, cut);
    out += "...";
  }
  return out;
}

std::string quotedSubject(std::string_view text) { return "'" + shownSubject(text) + "'"; }

void appendPrintable(std::string& out, std::string_view text) {
  std::size_t index = 0;
  while (index < text.size()) {
    const std::size_t length = sequenceLength(text.substr(index));
    if (length == 0) {
      appendEscaped(out, static_cast<std::uint8_t>(text[index]));
      ++index;
      continue;
    }
    const std::string_view sequence = text.substr(index, length);
    if (invisible(sequence))
      for (const char c : sequence) appendEscaped(out, static_cast<std::uint8_t>(c));
    else
      out += sequence;
    index += length;
  }
}

}  // namespace qovrin
