// Comments and strings of TOML text.

#include <cstdint>
#include <string>

#include "data/toml_cursor.hpp"

namespace data::toml_parser {
namespace {

using qovrin::Error;
using qovrin::fail;

void skipLineEnd(Cursor& cursor) noexcept {
  if (cursor.peek() == '\r') cursor.advance();
  if (cursor.peek() == '\n') cursor.advance();
}

int hexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void emitUtf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

// \uXXXX or \UXXXXXXXX, the cursor after the "u" or "U".
qovrin::Status appendCodePointEscape(Cursor& cursor, std::size_t digits, std::string& out) {
  std::uint32_t code_point = 0;
  for (std::size_t index = 0; index < digits; ++index) {
    const int digit = hexDigitValue(cursor.peek());
    if (digit < 0) return fail(Error::Syntax);
    code_point = (code_point << 4) | static_cast<std::uint32_t>(digit);
    cursor.advance();
  }
  if ((code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF) return fail(Error::Syntax);
  emitUtf8(out, code_point);
  return {};
}

// The escape after a backslash, the cursor on the byte after the backslash.
qovrin::Status appendEscape(Cursor& cursor, std::string& out) {
  if (cursor.atEnd()) return fail(Error::Syntax);
  const char kind = cursor.peek();
  cursor.advance();
  switch (kind) {
    case 'b': out.push_back('\b'); return {};
    case 't': out.push_back('\t'); return {};
    case 'n': out.push_back('\n'); return {};
    case 'f': out.push_back('\f'); return {};
    case 'r': out.push_back('\r'); return {};
    case '"': out.push_back('"'); return {};
    case '\\': out.push_back('\\'); return {};
    case 'u': return appendCodePointEscape(cursor, 4, out);
    case 'U': return appendCodePointEscape(cursor, 8, out);
    default: return fail(Error::Syntax);
  }
}

qovrin::Result<std::string> parseBasicString(Cursor& cursor) {
  cursor.advance();
  std::string out;
  while (true) {
    if (cursor.atEnd() || isLineEndByte(cursor.peek())) return fail(Error::Syntax);
    const char byte = cursor.peek();
    cursor.advance();
    if (byte == '"') return out;
    if (byte == '\\') {
      QOVRIN_TRY(appendEscape(cursor, out));
    } else {
      out.push_back(byte);
    }
  }
}

qovrin::Result<std::string> parseMultilineBasicString(Cursor& cursor) {
  cursor.advance(3);
  skipLineEnd(cursor);
  std::string out;
  while (true) {
    if (cursor.atEnd()) return fail(Error::Syntax);
    if (cursor.startsWith(R"(""")")) {
      cursor.advance(3);
      return out;
    }
    const char byte = cursor.peek();
    cursor.advance();
    if (byte != '\\') {
      out.push_back(byte);
      continue;
    }
    if (isLineEndByte(cursor.peek())) {
      while (isBlank(cursor.peek()) || isLineEndByte(cursor.peek())) cursor.advance();
      continue;
    }
    QOVRIN_TRY(appendEscape(cursor, out));
  }
}

qovrin::Result<std::string> parseLiteralString(Cursor& cursor) {
  cursor.advance();
  const std::size_t start = cursor.position;
  while (true) {
    if (cursor.atEnd() || isLineEndByte(cursor.peek())) return fail(Error::Syntax);
    if (cursor.peek() == '\'') break;
    cursor.advance();
  }
  std::string out(cursor.text.substr(start, cursor.position - start));
  cursor.advance();
  return out;
}

qovrin::Result<std::string> parseMultilineLiteralString(Cursor& cursor) {
  cursor.advance(3);
  skipLineEnd(cursor);
  const std::size_t start = cursor.position;
  const std::size_t close = cursor.text.find("'''", start);
  if (close == std::string_view::npos) return fail(Error::Syntax);
  cursor.advance(close - start);
  std::string out(cursor.text.substr(start, close - start));
  cursor.advance(3);
  return out;
}

}  // namespace

void skipComment(Cursor& cursor) noexcept {
  while (!cursor.atEnd() && !isLineEndByte(cursor.peek())) cursor.advance();
  skipLineEnd(cursor);
}

void skipWhitespaceNewlinesAndComments(Cursor& cursor) noexcept {
  while (!cursor.atEnd()) {
    const char byte = cursor.peek();
    if (byte == '#') {
      skipComment(cursor);
    } else if (isBlank(byte) || isLineEndByte(byte)) {
      cursor.advance();
    } else {
      return;
    }
  }
}

qovrin::Result<std::string> parseString(Cursor& cursor) {
  if (cursor.startsWith(R"(""")")) return parseMultilineBasicString(cursor);
  if (cursor.startsWith("'''")) return parseMultilineLiteralString(cursor);
  if (cursor.peek() == '"') return parseBasicString(cursor);
  return parseLiteralString(cursor);
}

}  // namespace data::toml_parser
