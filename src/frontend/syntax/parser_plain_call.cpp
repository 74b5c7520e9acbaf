// Call lines in the shape of data lines, read in one pass: a name, "(" right
// after it, arguments without quotes, braces or "//", the ")" that closes
// the "(", then at most blanks, ";" and a trailing comment. Lines of that
// shape are never continued, and every scan of the general path (the
// bracket balance, the comment cut, the argument count and split) finds in
// them what this one pass finds.

#include <array>
#include <cstdint>

#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/syntax/parser_support.hpp"

namespace frontend::parser {

using lexer::SourceLine;
using namespace support;

namespace {

enum class ByteRole : std::uint8_t { other, open, close, comma, slash, general };

// Quotes and braces take the general path: their rules differ between that
// path's scans, and only that path keeps them apart.
constexpr std::array<ByteRole, 256> kByteRoles = [] {
  std::array<ByteRole, 256> roles{};
  roles['('] = ByteRole::open;
  roles[')'] = ByteRole::close;
  roles[','] = ByteRole::comma;
  roles['/'] = ByteRole::slash;
  for (const char c : {'"', '\'', '{', '}'}) roles[static_cast<unsigned char>(c)] = ByteRole::general;
  return roles;
}();

// The position of the ")" that closes the "(" at open, with the top-level
// argument pieces before it (untrimmed) in pieces; none when the line has
// no such ")" or holds a byte that needs the general path.
std::optional<std::size_t> splitPlainArguments(std::string_view text, std::size_t open,
                                               std::vector<std::string_view>& pieces) {
  std::uint32_t depth = 1;
  std::size_t start = open + 1;
  for (std::size_t at = open + 1; at < text.size(); ++at) {
    switch (kByteRoles[static_cast<unsigned char>(text[at])]) {
      case ByteRole::other:
        break;
      case ByteRole::open:
        ++depth;
        break;
      case ByteRole::close:
        if (--depth == 0) {
          pieces.push_back(text.substr(start, at - start));
          return at;
        }
        break;
      case ByteRole::comma:
        if (depth == 1) {
          pieces.push_back(text.substr(start, at - start));
          start = at + 1;
        }
        break;
      case ByteRole::slash:
        if (at + 1 < text.size() && text[at + 1] == '/') return std::nullopt;
        break;
      case ByteRole::general:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

// The end of the call text when only blanks, ";" and a "//" comment follow
// the ")" at close: the call ends at its last byte before that comment that
// is not a blank.
std::optional<std::size_t> plainCallEnd(std::string_view text, std::size_t close) noexcept {
  std::size_t end = close + 1;
  for (std::size_t at = end; at < text.size(); ++at) {
    const char c = text[at];
    if (c == ' ' || c == '\t') continue;
    if (c == ';') {
      end = at + 1;
      continue;
    }
    if (c == '/' && at + 1 < text.size() && text[at + 1] == '/') return end;
    return std::nullopt;
  }
  return end;
}

}  // namespace

qovrin::Result<bool> Parser::appendPlainCall(ast::StatementList& list, const SourceLine& line) {
  const std::string_view text = line.text;
  const std::size_t open = identifier::firstWord(text).size();
  if (open == 0 || open >= text.size() || text[open] != '(') return false;
  call_pieces_.clear();
  const auto close = splitPlainArguments(text, open, call_pieces_);
  if (!close) return false;
  const auto end = plainCallEnd(text, *close);
  if (!end) return false;

  // "f()" and "f( )" have no argument; any other empty piece is a fault.
  std::size_t count = call_pieces_.size();
  if (count == 1 && trim(call_pieces_.front(), kLineSpace).empty()) count = 0;
  for (std::size_t index = 0; index < count; ++index) {
    call_pieces_[index] = trim(call_pieces_[index], kLineSpace);
    if (call_pieces_[index].empty()) return false;
  }

  QOVRIN_TRY(ast::checkRoomForStatement(list));
  auto& call = std::get<ast::ApiCallStatement>(list.emplace_back(std::in_place_type<ast::ApiCallStatement>).payload);
  call.call_text = text.substr(0, *end);
  call.name = text.substr(0, open);
  call.location = line.location;
  call.arguments.reserve(count);
  for (std::size_t index = 0; index < count; ++index) {
    auto argument = parseApiArgument(call_pieces_[index]);
    if (!argument) {
      list.pop_back();
      return false;
    }
    call.arguments.push_back(std::move(*argument));
  }
  return true;
}

}  // namespace frontend::parser
