// Statements without a body: instruction text, API calls, let/const,
// assignments and return.

#include <algorithm>
#include <limits>

#include "frontend/syntax/byte_scan.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/syntax/parser_support.hpp"

namespace frontend::parser {

using lexer::SourceLine;
using qovrin::Error;
using qovrin::fail;
using namespace support;

qovrin::Status appendOwnedText(ast::StatementList& list, const SourceLine& line) {
  // One pass finds the comment, and whether the line holds a builtin call or
  // an open quote for lowering to look for: most lines hold neither, and
  // take no call to say so.
  const std::size_t first = byte_scan::findFirstOf<'"', '\'', '/', '('>(line.text, 0);
  const lexer::InstructionText read = first == line.text.size() ? lexer::InstructionText{first, true, false}
                                                                : lexer::readInstructionText(line.text, first);
  // Which target the line is for is known only when it is lowered, and
  // SPIR-V text alone reads \" inside a string as a quote and "'" as a plain
  // character: where that may move the comment, the line is kept whole and
  // a SPIR-V target cuts it again.
  const std::size_t kept = read.spirv_apart ? line.text.size() : read.code;
  const std::size_t removed = line.text.size() - kept;
  if (line.text.size() - read.code > line.location.span.end) return fail(Error::SourceTooLarge);
  // The location goes over whole and its end is cut where the statement
  // stands: a copy cut first would be read back in one wide load over the
  // narrow write just made, which waits until that write is done.
  QOVRIN_TRY(ast::append(list, ast::IsaTextStatement{std::string(line.text.substr(0, kept)), line.location,
                                                     read.plain, read.spirv_apart,
                                                     static_cast<std::uint32_t>(read.code)}));
  std::get<ast::IsaTextStatement>(list.back().payload).location.span.end -= static_cast<std::uint32_t>(removed);
  return {};
}

qovrin::Status appendApiCall(ast::StatementList& list, const SourceLine& line) {
  auto call = parseApiCall(line.text, line.location);
  if (call) return ast::append(list, std::move(*call));
  // "lea (x), y" looks like a call of lea but is an instruction: a blank
  // before the first "(" lets a line that is no valid call stay instruction text.
  const std::size_t open = line.text.find('(');
  if (open != std::string_view::npos && open > 0 && isWhiteSpaceByte(line.text[open - 1])) {
    return appendOwnedText(list, line);
  }
  return fail(call.error());
}

qovrin::Status appendValueDeclaration(ast::StatementList& list, const SourceLine& line) {
  const std::string_view text = trim(line.text, kBlanksAndSemicolons);
  bool is_mutable = false;
  std::string_view rest;
  if (text.starts_with("const ")) {
    rest = text.substr(6);
  } else if (text.starts_with("let ")) {
    is_mutable = true;
    rest = text.substr(4);
  } else {
    return fail(Error::InvalidValueDeclaration);
  }
  rest = trimBlanks(rest);
  const std::size_t equals = rest.find('=');
  if (equals == std::string_view::npos) return fail(Error::InvalidValueDeclaration);
  const std::string_view head = trimBlanks(rest.substr(0, equals));
  const std::string_view value = trimBlanks(rest.substr(equals + 1));
  if (head.empty() || value.empty()) return fail(Error::InvalidValueDeclaration);

  std::string_view name = head;
  std::optional<std::string> type_name;
  if (const std::size_t colon = head.find(':'); colon != std::string_view::npos) {
    name = trimBlanks(head.substr(0, colon));
    const std::string_view type = trimBlanks(head.substr(colon + 1));
    if (!identifier::isName(type)) return fail(Error::InvalidValueDeclaration);
    type_name.emplace(type);
  }
  if (!identifier::isName(name)) return fail(Error::InvalidValueDeclaration);

  auto initializer = parseValueInitializer(value);
  if (!initializer) return fail(initializer.error());
  return ast::append(list, ast::ValueDeclarationStatement{std::string(name), std::move(type_name),
                                                          std::move(*initializer), line.location, is_mutable});
}

qovrin::Status appendAssignment(ast::StatementList& list, const SourceLine& line) {
  const std::string_view text = trim(line.text, " \t\r\n;");
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return fail(Error::InvalidValueDeclaration);
  const std::string_view target = trim(text.substr(0, equals), kLineSpace);
  const std::string_view value = trim(text.substr(equals + 1), kLineSpace);
  if (!identifier::isName(target) || value.empty()) return fail(Error::InvalidValueDeclaration);

  auto assigned = parseValueInitializer(value);
  if (!assigned) return fail(assigned.error());
  return ast::append(list, ast::AssignmentStatement{std::string(target), std::move(*assigned), line.location});
}

qovrin::Status appendMetaReturn(ast::StatementList& list, const SourceLine& line) {
  const std::string_view text = trimBlanks(line.text);
  if (!text.starts_with("return")) return fail(Error::InvalidExpression);
  const std::string_view value = trim(text.substr(6), kBlanksAndSemicolons);
  if (value.empty()) return fail(Error::InvalidExpression);
  auto node = parseExpressionOr(value, Error::InvalidExpression);
  if (!node) return fail(node.error());
  return ast::append(list, ast::ReturnStatement{std::move(*node), line.location});
}

}  // namespace frontend::parser
