// Call lines in the shape of data lines, read in one pass: a name, "(" right
// after it, arguments without quotes, braces or "//", the ")" that closes
// the "(", then at most blanks, ";" and a trailing comment. Lines of that
// shape are never continued, and every scan of the general path (the
// bracket balance, the comment cut, the argument count and split) finds in
// them what this one pass finds.

#include <array>
#include <cstdint>

#include "frontend/syntax/byte_scan.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/syntax/parser_support.hpp"
#include "frontend/syntax/plain_number.hpp"

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

constexpr bool isLineBlank(char c) noexcept { return c == ' ' || c == '\t'; }

std::size_t skipBlanks(std::string_view text, std::size_t at) noexcept {
  while (at < text.size() && isLineBlank(text[at])) ++at;
  return at;
}

using plain_number::kNone;

// The end of the argument that begins at start: the position of the "," or
// ")" after it at the same depth; none when the line ends first or holds a
// byte that needs the general path.
std::size_t argumentEnd(std::string_view text, std::size_t start) noexcept {
  std::uint32_t depth = 0;
  for (std::size_t at = start; at < text.size(); ++at) {
    switch (kByteRoles[static_cast<unsigned char>(text[at])]) {
      case ByteRole::other:
        break;
      case ByteRole::open:
        ++depth;
        break;
      case ByteRole::close:
        if (depth == 0) return at;
        --depth;
        break;
      case ByteRole::comma:
        if (depth == 0) return at;
        break;
      case ByteRole::slash:
        if (at + 1 < text.size() && text[at + 1] == '/') return kNone;
        break;
      case ByteRole::general:
        return kNone;
    }
  }
  return kNone;
}

// The end of the call text when only blanks, ";" and a "//" comment follow
// the ")" at close: the call ends at its last byte before that comment that
// is not a blank.
std::size_t plainCallEnd(std::string_view text, std::size_t close) noexcept {
  std::size_t end = close + 1;
  for (std::size_t at = end; at < text.size(); ++at) {
    const char c = text[at];
    if (isLineBlank(c)) continue;
    if (c == ';') {
      end = at + 1;
      continue;
    }
    if (c == '/' && at + 1 < text.size() && text[at + 1] == '/') return end;
    return kNone;
  }
  return end;
}

}  // namespace

std::size_t Parser::readPlainArgument(std::string_view text, std::size_t start) {
  const std::size_t first = skipBlanks(text, start);
  const bool negative = first < text.size() && text[first] == '-';
  std::uint64_t value = 0;
  if (const std::size_t digits_end = plain_number::read(text, first + (negative ? 1 : 0), value);
      digits_end != kNone) {
    const std::size_t end = skipBlanks(text, digits_end);
    if (end < text.size() && (text[end] == ',' || text[end] == ')')) {
      plain_arguments_.push_back({value, negative ? PlainArgument::Form::negated_number : PlainArgument::Form::number});
      return end;
    }
  }
  return readParsedArgument(text, start, first);
}

// Out of line, the argument parser's registers are saved only for the
// arguments that need it: 16 plain numbers a line took 1.3% fewer instructions
// (callgrind, bench/data_throughput.py).
[[gnu::noinline]] std::size_t Parser::readParsedArgument(std::string_view text, std::size_t start,
                                                         std::size_t first) {
  const std::size_t end = argumentEnd(text, first);
  if (end == kNone) return kNone;
  const std::string_view piece = trim(text.substr(start, end - start), kLineSpace);
  if (piece.empty()) return kNone;
  auto argument = parseApiArgument(piece);
  if (!argument) return kNone;
  plain_arguments_.push_back({parsed_arguments_.size(), PlainArgument::Form::parsed});
  parsed_arguments_.push_back(std::move(*argument));
  return end;
}

qovrin::Result<bool> Parser::appendPlainCall(ast::StatementList& list, const SourceLine& line) {
  const std::string_view text = line.text;
  // A call line is a name, blanks and "(": with no blank the name ends at the "(".
  const std::size_t open = byte_scan::findFirstOf<'('>(text, 0);
  if (open == 0 || open == text.size() || isLineBlank(text[open - 1])) return false;

  plain_arguments_.clear();
  parsed_arguments_.clear();
  std::size_t close = skipBlanks(text, open + 1);
  if (close == text.size()) return false;
  if (text[close] != ')') {
    for (close = open;;) {
      close = readPlainArgument(text, close + 1);
      if (close == kNone) return false;
      if (text[close] == ')') break;
    }
  }
  const std::size_t end = plainCallEnd(text, close);
  if (end == kNone) return false;

  QOVRIN_TRY(ast::checkRoomForStatement(list));
  auto& call = std::get<ast::ApiCallStatement>(list.emplace_back(std::in_place_type<ast::ApiCallStatement>).payload);
  call.call_text = text.substr(0, end);
  call.name = text.substr(0, open);
  call.location = line.location;
  call.arguments.reserve(plain_arguments_.size());
  for (const PlainArgument& argument : plain_arguments_) {
    switch (argument.form) {
      case PlainArgument::Form::number:
        call.arguments.emplace_back(expr::Node::integerLiteral(argument.value));
        break;
      case PlainArgument::Form::negated_number:
        call.arguments.emplace_back(
            expr::Node::unaryOperation(expr::UnaryOperator::minus, expr::Node::integerLiteral(argument.value)));
        break;
      case PlainArgument::Form::parsed:
        call.arguments.push_back(std::move(parsed_arguments_[argument.value]));
        break;
    }
  }
  return true;
}

}  // namespace frontend::parser
