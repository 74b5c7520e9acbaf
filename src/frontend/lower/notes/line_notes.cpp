#include "frontend/lower/notes/line_notes.hpp"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "common/quoted_text.hpp"
#include "frontend/lower/notes/block_notes.hpp"
#include "frontend/lower/notes/builtin_family_notes.hpp"
#include "frontend/lower/notes/call_syntax_notes.hpp"
#include "frontend/lower/notes/dot_name_notes.hpp"
#include "frontend/lower/notes/function_header_notes.hpp"
#include "frontend/lower/notes/quote_notes.hpp"
#include "frontend/lower/reading.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"
#include "frontend/syntax/expr_number.hpp"
#include "frontend/syntax/lexer.hpp"
#include "riscv_encoder/tables.hpp"
#include "x86_encoder/tables.hpp"

namespace frontend::lower::line_notes {

using diagnostic::Note;
using qovrin::Error;
using failure_asking::kBlanks;
using failure_asking::oneNote;
using failure_asking::quoted;
using failure_asking::lineBelow;

namespace {

// The failed line's text as the source holds it, from the failure's start.
std::string_view rawLineAt(const module::Module& module, const SourceLocation& location) {
  const auto& span = location.span;
  if (!span.source || *span.source >= module.sources().size()) return {};
  const std::string_view text = module.sources()[*span.source].text;
  if (span.start >= text.size()) return {};
  const std::size_t end = std::min<std::size_t>(std::max(span.end, span.start), text.size());
  return text.substr(span.start, end - span.start);
}

std::string_view lineAt(const module::Module& module, const SourceLocation& location) {
  return qovrin::trim(rawLineAt(module, location), kBlanks);
}

// Where a "//" comment starts on a line, outside quotes, as the line
// reader cuts it.
std::optional<std::size_t> commentStart(std::string_view line) {
  const std::size_t kept = lexer::isaTextBeforeComment(line).size();
  if (kept == line.size()) return std::nullopt;
  return line.find("//", kept);
}

std::string commentAdvice(std::string_view line, std::size_t comment) {
  return "write " + quoted(qovrin::trim(line.substr(comment), kBlanks)) + " on a line of its own";
}

std::optional<std::string> unclosedBlockNote(std::string_view line, Error error) {
  static constexpr std::pair<Error, std::string_view> kBlocks[] = {
      {Error::UnexpectedEndOfMetaIf, "if"},       {Error::UnexpectedEndOfMetaWhile, "while"},
      {Error::UnexpectedEndOfMetaFor, "for"},     {Error::UnexpectedEndOfMetaFunction, "fn"},
      {Error::UnexpectedEndOfMetaDefer, "defer"}, {Error::UnexpectedEndOfLateLayout, "late_layout"},
      {Error::UnexpectedEndOfStruct, "struct"},   {Error::UnexpectedEndOfMetaBlock, "{"},
  };
  for (auto [code, block] : kBlocks) {
    if (code != error) continue;
    // Macros share the function's parser and its end-of-file failure.
    if (code == Error::UnexpectedEndOfMetaFunction && line.starts_with("macro")) block = "macro";
    return "the '" + std::string(block) + "' block opened here has no closing '}' before the end of the file";
  }
  return std::nullopt;
}

// A block keyword written against the '(' of its condition ("while(i < 2) {"),
// which then reads as a call.
std::optional<std::string> keywordBeforeParenNote(std::string_view line) {
  if (line.starts_with("for("))
    return std::string("a loop is written 'for name in range(a, b) {' or 'for name in list {', without parentheses");
  for (const std::string_view keyword : {"if", "while"}) {
    if (line.size() <= keyword.size() || !line.starts_with(keyword) || line[keyword.size()] != '(') continue;
    return quoted(keyword) + " needs a blank before its condition: write " +
           quoted(std::string(keyword) + " " + std::string(line.substr(keyword.size())));
  }
  return std::nullopt;
}

// What an unparsable statement line got wrong: a stray else or '}', an else
// below its block's '}', a keyword against its '(', or a body written on
// its header's line.
std::optional<std::string> statementLineNote(std::string_view line) {
  if (const auto comment = commentStart(line);
      comment && qovrin::trimEnd(line.substr(0, *comment), kBlanks).ends_with('{'))
    return "a block's header line cannot end with a comment: " + commentAdvice(line, *comment);
  if (line.starts_with('}')) {
    const std::string_view rest = qovrin::trim(line.substr(1), kBlanks);
    if (rest.starts_with("else if(")) return keywordBeforeParenNote(rest.substr(5));
    if (rest.starts_with("else") && (line == "} else {" || line.starts_with("} else if ")))
      return std::string("this 'else' follows no 'if' block: the block before it is already closed");
    if (rest.starts_with("else")) return std::string("an else part is written '} else {', with blanks around 'else'");
    return std::string("this '}' closes no open block");
  }
  if (line == "else {" || line.starts_with("else if ")) {
    return "'else' goes on the line of the '}' that closes the 'if' block: write " + quoted("} " + std::string(line)) +
           " there";
  }
  if (auto note = keywordBeforeParenNote(line)) return note;
  const std::size_t open = line.find('{');
  if (open == std::string_view::npos || open + 1 == line.size()) return std::nullopt;
  return "a block's statements start on the line after its header: end this line after " +
         quoted(qovrin::trim(line.substr(0, open + 1), kBlanks)) + " and write " +
         quoted(qovrin::trim(qovrin::trimEnd(line.substr(open + 1), "} \t"), kBlanks)) +
         " and '}' on lines of their own";
}

// The expression texts of a line: what follows '=' in a declaration or an
// assignment, else the arguments of a call, split at the commas between them.
std::vector<std::string_view> expressionTexts(std::string_view line) {
  const std::size_t equals = line.find('=');
  const std::size_t open = line.find('(');
  if (equals != std::string_view::npos && (open == std::string_view::npos || equals < open))
    return {line.substr(equals + 1)};
  if (open == std::string_view::npos || !line.ends_with(')')) return {};
  const std::string_view inside = line.substr(open + 1, line.size() - open - 2);
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  std::size_t depth = 0;
  qovrin::quoted_text::Cursor strings(qovrin::quoted_text::kSource);
  for (std::size_t index = 0; index <= inside.size(); ++index) {
    const char c = index < inside.size() ? inside[index] : ',';
    if (index < inside.size() && !strings.outside(inside, index)) continue;
    if (c == '(' || c == '[') ++depth;
    if ((c == ')' || c == ']') && depth > 0) --depth;
    if (c != ',' || depth > 0) continue;
    pieces.push_back(inside.substr(start, index - start));
    start = index + 1;
  }
  return pieces;
}

// What a line that failed to parse got wrong as a whole: a comment after a
// value line, or a number that reads as none.
std::optional<std::string> lineSyntaxNote(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (const auto comment = commentStart(line);
      comment && equals != std::string_view::npos && equals < *comment && line.find('(') > equals)
    return "a 'let', 'const' or assignment line cannot end with a comment: " + commentAdvice(line, *comment);
  return expr::unreadableNumberNote(line);
}

// An expression of the line that ends in an operator with nothing after it.
std::optional<std::string> trailingOperatorNote(std::string_view line) {
  for (const std::string_view piece : expressionTexts(line)) {
    const std::string_view text = qovrin::trim(piece, kBlanks);
    if (text.empty() || std::string_view("+-*/%&|^<>=!~").find(text.back()) == std::string_view::npos) continue;
    if (!expr::parseOwned(text)) return quoted(text) + " ends with an operator that has no operand after it";
  }
  return std::nullopt;
}

// A 'for' header that is no loop: most often a range written as 'a..b'.
std::optional<std::string> forHeaderNote(std::string_view line) {
  if (!line.starts_with("for ") || !line.ends_with('{')) return std::nullopt;
  const std::string_view loop = qovrin::trim(line.substr(4, line.size() - 5), kBlanks);
  const std::size_t in = loop.find(" in ");
  const std::string_view source = in == std::string_view::npos ? std::string_view{} : loop.substr(in + 4);
  const std::size_t dots = source.find("..");
  if (dots == std::string_view::npos)
    return std::string("a 'for' header reads 'for name in range(a, b) {' or 'for name in list {'");
  return quoted(qovrin::trim(source, kBlanks)) + " is no range: write range(" +
         std::string(qovrin::trim(source.substr(0, dots), kBlanks)) + ", " +
         std::string(qovrin::trim(source.substr(dots + 2), kBlanks)) + "), which stops before the second bound";
}

bool isCallNameChar(char c) { return qovrin::isAsciiLetter(c) || qovrin::isAsciiDigit(c) || c == '_' || c == '.'; }

// A call line's own name, a statement call such as emit.u8 or a builtin.
bool isKnownCall(const module::Module& module, std::string_view name) {
  return api::isCallName(name) || expr::isBuiltinName(name) || module.metaFunctions().find(name) ||
         name == "list.push_mut" || name == "list.set_mut" || name == "map.set_mut";
}

// A dotted name called like a builtin that no builtin has, outside quotes.
std::optional<std::string> unknownBuiltinNote(const module::Module& module, std::string_view line) {
  // A call of a known name fails for what its arguments hold.
  const auto called = call_syntax_notes::calledName(line);
  if (called && isKnownCall(module, *called)) line.remove_prefix(called->data() + called->size() - line.data());
  qovrin::quoted_text::Cursor strings(qovrin::quoted_text::kSource);
  for (std::size_t index = 0; index < line.size(); ++index) {
    const char c = line[index];
    if (!strings.outside(line, index)) continue;
    if (!qovrin::isAsciiLetter(c) && c != '_') continue;
    if (index > 0 && isCallNameChar(line[index - 1])) continue;
    std::size_t end = index;
    while (end < line.size() && isCallNameChar(line[end])) ++end;
    const std::string_view name = line.substr(index, end - index);
    index = end - 1;
    if (end >= line.size() || line[end] != '(' || name.find('.') == std::string_view::npos) continue;
    if (expr::isBuiltinName(name) || module.metaFunctions().find(name)) continue;
    return "there is no builtin or function named " + quoted(name) + builtin_family_notes::familyMembers(name);
  }
  return std::nullopt;
}

// A "}" line with a comment after it, below the header of a block left
// open: the line is read as an instruction, not as the block's end.
std::optional<Note> commentedCloseNote(const module::Module& module, const SourceLocation& header) {
  const auto closing = [](std::string_view content) {
    const auto comment = commentStart(content);
    return content.starts_with('}') && comment && qovrin::trim(content.substr(1, *comment - 1), kBlanks).empty();
  };
  const auto place = lineBelow(module, header, closing);
  if (!place) return std::nullopt;
  const std::string_view content = lineAt(module, *place);
  return Note{"this '}' does not close the block: a '}' line cannot end with a comment; " +
                  commentAdvice(content, *commentStart(content)),
              *place};
}

}  // namespace

std::vector<Note> unknownCallNotes(const ast::ApiCallStatement& call, target::Target target) {
  std::string name = call.name;
  std::ranges::transform(name, name.begin(), qovrin::lowerAscii);
  const bool instruction = target.isa == target::Isa::x86     ? x86_encoder::tables::findMnemonic(name).has_value()
                           : target.isa == target::Isa::riscv ? !riscv_encoder::tables::rowsOfWritten(name).empty()
                                                              : false;
  // Legacy directive words such as 'db' are in the x86 table but are no instruction here.
  if (!instruction || lexer::classifyTrimmed(name) != lexer::LineKind::isa_text) return {};
  return oneNote(quoted(call.name) + " is an instruction, but a name followed by '(' is read as a call: write " +
                 "its operands without the parentheses around them");
}

std::vector<Note> parseNotes(const module::Module& module, const SourceLocation& location, Error error) {
  const std::string_view line = lineAt(module, location);
  // A string left open runs to the line's end, and whatever the reading
  // stopped at then stands inside it.
  if (error == Error::UnexpectedEndOfStatement || error == Error::InvalidExpression)
    if (auto quote = quote_notes::openQuoteInStatement(module, location)) return {std::move(*quote)};
  std::optional<std::string> note;
  if (unclosedBlockNote(line, error))
    if (auto close = commentedCloseNote(module, location)) return {std::move(*close)};
  if (error == Error::InvalidMetaStatement) {
    note = statementLineNote(line);
  } else if (error == Error::InvalidExpression) {
    // The line's own faults and a name no call has come first, then where
    // the reading of a call's arguments stopped, placed at its column.
    note = lineSyntaxNote(line).or_else([&] { return unknownBuiltinNote(module, line); });
    if (!note)
      if (auto syntax = call_syntax_notes::argumentSyntaxNote(rawLineAt(module, location), location))
        return {std::move(*syntax)};
    if (!note) note = trailingOperatorNote(line);
    if (!note) note = dot_name_notes::expressionNote(expressionTexts(line));
  } else if (error == Error::InvalidMetaFor) {
    note = forHeaderNote(line);
  } else if (error == Error::InvalidMetaFunction) {
    note = function_header_notes::headerNote(line);
  } else if (error == Error::NestingTooDeep) {
    note = std::string(block_notes::lineNestingLimit(line));
  } else {
    note = unclosedBlockNote(line, error);
  }
  if (!note) return {};
  return oneNote(std::move(*note));
}

}  // namespace frontend::lower::line_notes
