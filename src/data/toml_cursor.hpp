#pragma once
// Reading position inside one TOML document, and the readers of the lexical
// pieces (strings, number tokens) that work on it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "data/toml_parser.hpp"

namespace data::toml_parser {

struct Cursor {
  std::string_view text;
  std::size_t position = 0;
  std::uint64_t line = 1;
  std::uint64_t column = 1;

  bool atEnd() const noexcept { return position >= text.size(); }
  // The byte at offset from the position, or 0 past the end.
  char peek(std::size_t offset = 0) const noexcept {
    return position + offset < text.size() ? text[position + offset] : '\0';
  }
  bool startsWith(std::string_view prefix) const noexcept { return text.substr(position).starts_with(prefix); }

  // Consumes one byte; a line end (LF, CR LF, lone CR) moves to the next line.
  void advance() noexcept {
    const char byte = text[position++];
    if (byte == '\n' || (byte == '\r' && peek() != '\n')) {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  void advance(std::size_t count) noexcept {
    for (std::size_t step = 0; step < count; ++step) advance();
  }
};

constexpr bool isBlank(char c) noexcept { return c == ' ' || c == '\t'; }
constexpr bool isLineEndByte(char c) noexcept { return c == '\n' || c == '\r'; }

inline void skipBlanks(Cursor& cursor) noexcept {
  while (isBlank(cursor.peek())) cursor.advance();
}

// From "#" through the end of its line.
void skipComment(Cursor& cursor) noexcept;
// Blanks, line ends and comments in any order.
void skipWhitespaceNewlinesAndComments(Cursor& cursor) noexcept;

// A basic or literal string, single- or multi-line, at its opening quote.
qovrin::Result<std::string> parseString(Cursor& cursor);

// The number, date or time token at the cursor (a sign or a digit), read
// into its value.
qovrin::Result<Node::TomlValue> parseNumberToken(Cursor& cursor);

// Why the number token that ends at byte `end` of text was refused with
// Overflow: an integer TOML's signed range does not hold, or a number of no
// TOML form.
std::string describeNumberOverflow(std::string_view text, std::size_t end);

// Exposed for tests: the token classifiers in the order they are tried.
bool isTimestamp(std::string_view token) noexcept;
bool isIntString(std::string_view token) noexcept;

}  // namespace data::toml_parser
