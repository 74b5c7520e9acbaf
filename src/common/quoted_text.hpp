#pragma once
// How every scanner of source text reads quoted text: which quote opens a
// string and whether a backslash in it takes the next byte with it. A line,
// a call argument, a macro operand and a note about any of them all skip
// strings through these rules, so that no two of them can disagree on where
// a string ends.

#include <cstddef>
#include <optional>
#include <string_view>

#include "common/ascii.hpp"

namespace qovrin::quoted_text {

struct Rules {
  // "'" opens a string as '"' does, except where it separates two digit
  // groups (1'000).
  bool single_quotes = true;
  // Inside a string "\" takes the next byte with it, so \" does not close it.
  bool backslash_escapes = false;

  friend constexpr bool operator==(const Rules&, const Rules&) = default;
};

// x86 and RISC-V lines and the meta language: either quote, no escapes.
inline constexpr Rules kSource{true, false};
// SPIR-V lines, as SPIR-V assemblers read them: '"' only, with escapes.
inline constexpr Rules kSpirv{false, true};

// The quote that text[at] opens when it stands outside a string, else 0.
constexpr char opener(Rules rules, std::string_view text, std::size_t at) noexcept {
  const char c = text[at];
  if (c == '"') return c;
  if (c == '\'' && rules.single_quotes && !isDigitSeparator(text, at)) return c;
  return 0;
}

// Reading a string that quote opened, from `from` on: one past its closing
// quote, or npos when the text ends inside it. A doubled quote stands for
// one quote and keeps the string open.
constexpr std::size_t closeAfter(Rules rules, char quote, std::string_view text, std::size_t from) noexcept {
  for (std::size_t at = from; at < text.size(); ++at) {
    const char c = text[at];
    if (rules.backslash_escapes && c == '\\') {
      ++at;
    } else if (c == quote) {
      if (at + 1 >= text.size() || text[at + 1] != quote) return at + 1;
      ++at;
    }
  }
  return std::string_view::npos;
}

// One past the string whose opening quote is text[open] (opener() gave it);
// none when the text ends inside it.
constexpr std::optional<std::size_t> stringEnd(Rules rules, std::string_view text, std::size_t open) noexcept {
  const std::size_t end = closeAfter(rules, text[open], text, open + 1);
  if (end == std::string_view::npos) return std::nullopt;
  return end;
}

// Where the closing quote of the string that opens at `open` stands, for
// loops that step past it themselves; npos when the text ends inside it.
constexpr std::size_t closingQuote(Rules rules, std::string_view text, std::size_t open) noexcept {
  const std::size_t end = closeAfter(rules, text[open], text, open + 1);
  return end == std::string_view::npos ? end : end - 1;
}

// The same reading one byte at a time, for scanners that look at every byte
// and carry the state from one piece of text to the next.
class Cursor {
 public:
  constexpr explicit Cursor(Rules rules) noexcept : rules_(rules) {}

  // Reads text[at]; true when it stands outside every string and is not
  // itself a quote.
  constexpr bool outside(std::string_view text, std::size_t at) noexcept {
    if (quote_ == 0) {
      quote_ = opener(rules_, text, at);
      return quote_ == 0;
    }
    if (escaped_) {
      escaped_ = false;
    } else if (rules_.backslash_escapes && text[at] == '\\') {
      escaped_ = true;
    } else if (text[at] == quote_) {
      // A doubled quote closes and opens again at once: the same string.
      quote_ = 0;
    }
    return false;
  }

  constexpr bool inString() const noexcept { return quote_ != 0; }
  constexpr char quote() const noexcept { return quote_; }

 private:
  Rules rules_;
  char quote_ = 0;
  bool escaped_ = false;
};

}  // namespace qovrin::quoted_text
