#pragma once
// The statement parser: joins the lines of statements that go on over several
// lines, sends each statement to the parser of its kind and builds the
// statement tree. The lowering driver reads the top level of a source itself
// and calls these entry points; bodies of blocks, loops, functions and macros
// come back through Parser::appendExecutableStatement.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/lexer.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::parser {

// Deepest nesting of bodies (blocks, if/else-if, loops, functions, macros,
// struct declarations) and of struct literals inside struct literals. Deeper
// input fails with NestingTooDeep rather than exhausting the stack.
inline constexpr std::size_t kMaxNesting = 1000;

// Brackets and quotes still open after scanning a statement's text so far.
struct StatementBalance {
  std::uint32_t parentheses = 0;
  std::uint32_t braces = 0;
  char quote = 0;  // the character that opened the current quote, 0 outside quotes

  bool inQuote() const noexcept { return quote != 0; }
  bool open() const noexcept { return parentheses != 0 || braces != 0 || quote != 0; }
};

// Scans text onward from the given state. The scan stops at a "//" comment
// outside quotes, so brackets and quotes in a trailing comment never keep a
// statement open. Returns the length of the text before that comment (the
// whole length without one). A ")" or "}" that closes nothing fails with
// InvalidExpression.
qovrin::Result<std::size_t> scanStatementBalance(StatementBalance& balance, std::string_view text);

// Whether a statement beginning with this line may go on over further lines
// (API calls, let/const, assignments, return).
bool statementCanContinue(const lexer::SourceLine& line) noexcept;

// Whether the line is a "fn" or "macro" header whose parameter list goes on.
qovrin::Result<bool> metaFunctionSignatureNeedsContinuation(const lexer::SourceLine& line);

// Statements without a body. None of them reads further lines.
qovrin::Status appendOwnedText(ast::StatementList& list, const lexer::SourceLine& line);
qovrin::Status appendApiCall(ast::StatementList& list, const lexer::SourceLine& line);
qovrin::Status appendValueDeclaration(ast::StatementList& list, const lexer::SourceLine& line);
qovrin::Status appendAssignment(ast::StatementList& list, const lexer::SourceLine& line);
qovrin::Status appendMetaReturn(ast::StatementList& list, const lexer::SourceLine& line);

// Parses the text of an API call (also the stored call text of deferred and
// late-layout blocks, again later).
qovrin::Result<ast::ApiCallStatement> parseApiCall(std::string_view text, const SourceLocation& location);

// Type{ field: value, ... }. InvalidApiArgument means "not a struct literal";
// callers then try an expression.
qovrin::Result<ast::StructLiteralArgument> parseStructLiteralArgument(std::string_view text);

// A struct literal when the text is one, else an expression.
qovrin::Result<ast::StructLiteralValue> parseValueInitializer(std::string_view text);

// The parameter list of a "fn" header (the text between its parentheses).
qovrin::Result<std::vector<ast::MetaFunctionParam>> parseMetaFunctionParams(std::string_view text,
                                                                            const SourceLocation& location);

bool metaParamNameExists(std::span<const ast::MetaFunctionParam> params, std::string_view name) noexcept;

// One parser per source. The parser reads the source text through a view, so
// that text must outlive it. Every failure of an append or collect operation
// leaves in errorLocation() the line it is best reported at: the first line of
// the innermost statement that failed, or a more precise line (a struct member,
// a directive line, the line that opens one level too many).
class Parser {
 public:
  explicit Parser(std::string_view text, std::optional<std::uint32_t> source = std::nullopt) : lexer_(text, source) {}

  lexer::Lexer& lexer() noexcept { return lexer_; }
  const std::optional<SourceLocation>& errorLocation() const noexcept { return error_location_; }

  // Parses every remaining line as top-level statements.
  qovrin::Result<ast::StatementList> parseSource();

  // Nothing when the statement that begins with this line is complete on it;
  // else the statement's pieces joined by line feeds, trailing comments cut.
  qovrin::Result<std::optional<std::string>> collectContinuedStatement(const lexer::SourceLine& first);

  // The "fn" or "macro" header joined up to the line that closes its parameter list.
  qovrin::Result<std::string> collectMetaFunctionSignature(const lexer::SourceLine& header);

  // Parses the statement that begins at this line, reading further lines as
  // needed, and appends it. Blank and comment lines append nothing.
  qovrin::Status appendExecutableStatement(ast::StatementList& list, const lexer::SourceLine& line);

  // Block parsers: each takes its header line, reads the body up to its
  // closing "}" and appends one statement.
  qovrin::Status appendMetaBlockStatement(ast::StatementList& list, const lexer::SourceLine& line);
  qovrin::Status appendMetaIfStatement(ast::StatementList& list, const lexer::SourceLine& header);
  qovrin::Status appendMetaElseBody(ast::StatementList& else_list, const lexer::SourceLine& line);
  qovrin::Status appendMetaWhileStatement(ast::StatementList& list, const lexer::SourceLine& header);
  qovrin::Status appendMetaForStatement(ast::StatementList& list, const lexer::SourceLine& header);
  qovrin::Status appendMetaDeferStatement(ast::StatementList& list, const lexer::SourceLine& header);
  qovrin::Status appendLateLayoutStatement(ast::StatementList& list, const lexer::SourceLine& header);
  qovrin::Status appendMetaFunctionStatement(ast::StatementList& list, const lexer::SourceLine& header);
  qovrin::Status appendMacroStatement(ast::StatementList& list, const lexer::SourceLine& header);
  qovrin::Status appendStructDeclaration(ast::StatementList& list, const lexer::SourceLine& header);

 private:
  // Counts one level of nesting for as long as it lives.
  class NestingLevel {
   public:
    explicit NestingLevel(Parser& parser) noexcept : parser_(parser) { ++parser_.depth_; }
    ~NestingLevel() { --parser_.depth_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

   private:
    Parser& parser_;
  };

  // Runs parse; when it fails without having placed the failure itself, the
  // failure is placed at line.
  template <typename Parse>
  auto locateFailure(const lexer::SourceLine& line, Parse&& parse);

  // locateFailure for a block header, counting one level of nesting while
  // parse runs.
  template <typename Parse>
  qovrin::Status parseBlock(const lexer::SourceLine& header, Parse&& parse);

  // Reads the record's body and appends the record.
  template <typename Record>
  qovrin::Status appendWithBody(ast::StatementList& list, Record& record, qovrin::Error end_of_input);
  // The same for a record that a header parser built on the heap: every
  // level of a nested body then keeps only a pointer to it on the stack.
  template <typename Record>
  qovrin::Status appendWithBody(ast::StatementList& list, qovrin::Result<std::unique_ptr<Record>> record,
                                qovrin::Error end_of_input);

  void setErrorLocation(const SourceLocation& location) noexcept;
  qovrin::Status checkNesting(const lexer::SourceLine& header) noexcept;
  qovrin::Status dispatchStatement(ast::StatementList& list, const lexer::SourceLine& line);
  // The statement's text joined over the lines it goes on to, or nothing
  // when it is complete on its line. Out of line, so that its locals stay
  // out of the frames of nested bodies.
  [[gnu::noinline]] qovrin::Result<std::optional<std::string>> joinStatement(const lexer::SourceLine& line);
  qovrin::Status dispatchMeta(ast::StatementList& list, const lexer::SourceLine& line);
  // Appends the call on a line of kind call when the line is complete and
  // plain enough to read in one pass, and returns true; returns false, with
  // nothing appended, for every other line and for every line the call on it
  // fails on, which the general path then reads and reports.
  qovrin::Result<bool> appendPlainCall(ast::StatementList& list, const lexer::SourceLine& line);
  // Reads the argument of a plain call that begins at start into
  // plain_arguments_ and returns the position of the "," or ")" that ends
  // it; npos when the general path must read the line. A plain number is
  // read as it is passed over; any other argument goes to the argument
  // parser once its end is found.
  std::size_t readPlainArgument(std::string_view text, std::size_t start);
  // The same for an argument other than a plain number, whose first byte
  // that is not a blank is at first.
  std::size_t readParsedArgument(std::string_view text, std::size_t start, std::size_t first);
  // Appends further lines (after a line feed each, blank and comment lines
  // skipped) until the balance closes; for a header only parentheses and
  // quotes keep it open.
  qovrin::Status joinContinuationLines(std::string& joined, StatementBalance& balance, bool header);

  // Reads lines into body up to a line that is exactly "}".
  qovrin::Status readBody(ast::StatementList& body, qovrin::Error end_of_input);

  // defer and late_layout: a header that must be exactly header_text.
  template <typename Block>
  qovrin::Status appendFixedHeaderBlock(ast::StatementList& list, const lexer::SourceLine& header,
                                        std::string_view header_text, qovrin::Error invalid,
                                        qovrin::Error end_of_input);

  lexer::Lexer lexer_;
  std::optional<SourceLocation> error_location_;
  std::uint64_t located_failures_ = 0;  // how often error_location_ was set
  std::size_t depth_ = 0;
  // appendPlainCall's arguments before it knows how many there are, kept for
  // their room, so that each call allocates its arguments once and exactly:
  // a plain number as its value, any other argument as the index of its
  // parsed record in parsed_arguments_.
  struct PlainArgument {
    enum class Form : std::uint8_t { number, negated_number, parsed };
    std::uint64_t value = 0;
    Form form = Form::number;
  };
  std::vector<PlainArgument> plain_arguments_;
  std::vector<ast::ApiCallArgument> parsed_arguments_;
};

}  // namespace frontend::parser
