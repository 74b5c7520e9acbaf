#pragma once
// The statement tree of a source. Every record owns its texts, expression
// trees and nested bodies; nothing points back into the source buffer, so a
// tree outlives the text it was parsed from.
//
// The parser bounds the nesting of bodies and struct literals, so the
// recursive destruction of a parsed tree stays far inside the stack.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::ast {

struct Statement;

// Statements in source order. Bodies of blocks, loops, functions and macros are
// lists of their own.
using StatementList = std::vector<Statement>;

struct StructLiteralArgument;

// An initializer, an assigned value or a field value: an expression, or a
// struct literal (index 1). A literal may have millions of fields, nearly all
// plain expressions, so a nested literal is boxed to keep each value small.
using StructLiteralValue = std::variant<expr::Node, std::unique_ptr<StructLiteralArgument>>;

// A field's name lies in its literal's names (StructLiteralArgument::nameOf).
struct StructLiteralField {
  std::uint32_t name_offset = 0;
  std::uint32_t name_size = 0;
  StructLiteralValue value;
};

// Type{ field: value, ... }
struct StructLiteralArgument {
  std::string type_name;                   // a name, dots allowed
  std::vector<StructLiteralField> fields;  // source order; duplicates are left to the evaluator
  // The field names one after another: a literal may have millions of
  // fields, and a text of its own would make each field twice as wide.
  std::string names;

  std::string_view nameOf(const StructLiteralField& field) const noexcept {
    return std::string_view(names).substr(field.name_offset, field.name_size);
  }
  // SourceTooLarge once the names outgrow 32-bit positions.
  qovrin::Status addField(std::string_view name, StructLiteralValue value);
};

inline bool isStructLiteral(const StructLiteralValue& value) noexcept { return value.index() == 1; }
inline const expr::Node& expressionOf(const StructLiteralValue& value) noexcept { return std::get<0>(value); }
inline const StructLiteralArgument& structLiteralOf(const StructLiteralValue& value) noexcept {
  return *std::get<1>(value);
}

struct LabelStatement {
  std::string name;  // without the ":"
  SourceLocation location;
};

struct IsaTextStatement {
  std::string text;         // trailing "//" comment and the blanks before it removed, but see spirv_apart
  SourceLocation location;  // of that text
  // The text holds no name before a parenthesis outside a string and every
  // string in it closes, so lowering has no builtin call and no open quote
  // to look for; false when not known. A SPIR-V target may rely on it only without
  // spirv_apart, where its reading of the strings is the same.
  bool plain = false;
  // A SPIR-V target's reading of the strings may cut the comment elsewhere
  // (the line holds "'" or \" in a string): text then holds the whole line,
  // and each target cuts it as it reads strings.
  bool spirv_apart = false;
  std::uint32_t other_size = 0;  // what every other target keeps, with spirv_apart

  // The line as a target reads it, and where that text lies. Most lines read
  // the same for every target, which costs no call.
  std::string_view textFor(bool spirv) const noexcept { return spirv_apart ? apartTextFor(spirv) : text; }
  SourceLocation locationFor(bool spirv) const noexcept { return spirv_apart ? apartLocationFor(spirv) : location; }

 private:
  std::string_view apartTextFor(bool spirv) const noexcept;
  SourceLocation apartLocationFor(bool spirv) const noexcept;
};

struct ValueDeclarationStatement {
  std::string name;
  std::optional<std::string> type_name;
  StructLiteralValue initializer;
  SourceLocation location;
  bool is_mutable = false;  // "let"; "const" is immutable
};

struct AssignmentStatement {
  std::string target;
  StructLiteralValue value;
  SourceLocation location;
};

struct StructDeclarationField {
  std::string name;
  std::string type_name;
  std::optional<std::string> default_value;  // unparsed text
  SourceLocation location;                   // of the field's line
};

struct StructDeclarationStatement {
  std::string name;
  std::vector<StructDeclarationField> fields;
  SourceLocation location;
  bool is_union = false;
  bool packed = false;
};

// One argument of an API call, as wide as an expression node, since a data
// call may carry millions of them. A string argument keeps its decoded text
// in a string node; a struct literal keeps its text as written, which
// parseStructLiteralArgument has accepted and reads again where the literal
// is built.
class ApiCallArgument : private expr::Node {
 public:
  enum class Kind : std::uint8_t { expression = 0, string = 1, struct_literal = 2 };

  explicit ApiCallArgument(expr::Node expression) noexcept : ApiCallArgument(Kind::expression, std::move(expression)) {}
  // The text between the outer double quotes with every doubled quote taken as one.
  static ApiCallArgument ofString(std::string_view decoded) {
    return ApiCallArgument(Kind::string, expr::Node::withText(expr::NodeKind::string, decoded));
  }
  static ApiCallArgument ofStructLiteral(std::string_view text) {
    return ApiCallArgument(Kind::struct_literal, expr::Node::withText(expr::NodeKind::identifier, text));
  }

  Kind kind() const noexcept { return static_cast<Kind>(holderTag()); }
  // Null unless the argument is an expression.
  const expr::Node* expression() const noexcept { return kind() == Kind::expression ? this : nullptr; }
  // Nothing unless the argument is of that kind.
  std::optional<std::string_view> string() const noexcept { return textOf(Kind::string); }
  std::optional<std::string_view> structLiteralText() const noexcept { return textOf(Kind::struct_literal); }

 private:
  ApiCallArgument(Kind kind, expr::Node node) noexcept : expr::Node(std::move(node)) {
    setHolderTag(static_cast<std::uint8_t>(kind));
  }
  std::optional<std::string_view> textOf(Kind wanted) const noexcept {
    if (kind() != wanted) return std::nullopt;
    return text();
  }
};

static_assert(sizeof(ApiCallArgument) == sizeof(expr::Node));

// The arguments of a call, in order. A call with one argument keeps it in
// the record itself: most data lines pass one value, and the allocation and
// release of a list for it took a tenth of the time of db(1) lines
// (data_throughput.py, perf).
class ApiCallArguments {
 public:
  std::size_t size() const noexcept { return single_ ? 1 : spilled_.size(); }
  bool empty() const noexcept { return size() == 0; }
  const ApiCallArgument* data() const noexcept { return single_ ? &*single_ : spilled_.data(); }
  const ApiCallArgument* begin() const noexcept { return data(); }
  const ApiCallArgument* end() const noexcept { return data() + size(); }
  const ApiCallArgument& operator[](std::size_t index) const noexcept { return data()[index]; }
  const ApiCallArgument& front() const noexcept { return *data(); }

  // Room for count arguments in all, so that as many appends allocate at
  // most once. The test for one argument is inline: called, it was 1.6% of the
  // instructions of `db(1)` lines (callgrind, bench/data_throughput.py).
  void reserve(std::size_t count) {
    if (count <= 1 && spilled_.capacity() == 0) return;
    reserveList(count);
  }
  // Inline and built in place: an argument made apart and moved in is read
  // back whole over the narrow writes of its header.
  template <typename... Parts>
  void emplace_back(Parts&&... parts) {
    if (spilled_.size() == spilled_.capacity()) {
      if (!single_ && spilled_.capacity() == 0) {
        single_.emplace(std::forward<Parts>(parts)...);
        return;
      }
      reserve(2 * size());
    }
    spilled_.emplace_back(std::forward<Parts>(parts)...);
  }
  void push_back(ApiCallArgument&& argument) { emplace_back(std::move(argument)); }

 private:
  void reserveList(std::size_t count);

  std::optional<ApiCallArgument> single_;  // the only argument, while no list is allocated
  std::vector<ApiCallArgument> spilled_;   // every argument once a list is allocated
};

struct ApiCallStatement {
  // Constructors of its own: the parser builds call records in place in
  // their list, and the value-initialization of an aggregate first clears
  // the whole record, which took 30% of the parse of a db(1) line in the
  // one-pass reader (data_throughput.py, perf).
  ApiCallStatement() noexcept {}
  ApiCallStatement(std::string call_text, std::string name, ApiCallArguments arguments,
                   SourceLocation location) noexcept
      : call_text(std::move(call_text)), name(std::move(name)), arguments(std::move(arguments)), location(location) {}

  std::string call_text;  // the whole call as written, before any "//" comment
  std::string name;       // dotted name before "(", such as "emit.u8"
  ApiCallArguments arguments;
  SourceLocation location;
};

struct MetaIfStatement {
  std::string condition;  // source text, parsed when evaluated
  StatementList then_statements;
  StatementList else_statements;  // for "else if": exactly one MetaIfStatement
  SourceLocation location;        // of the "if" line
};

struct MetaWhileStatement {
  std::string condition;
  StatementList body;
  SourceLocation location;
};

// "for NAME in range(A, B)" keeps both bounds; "for NAME in EXPR" keeps the
// collection expression in first and no second.
struct MetaForSource {
  expr::Node first;
  std::optional<expr::Node> second;

  bool single() const noexcept { return !second.has_value(); }
};

struct MetaForRangeStatement {
  std::string variable;
  MetaForSource source;
  StatementList body;
  SourceLocation location;
};

struct BreakStatement {
  SourceLocation location;
};

struct ContinueStatement {
  SourceLocation location;
};

struct MetaFunctionParam {
  std::string name;                      // without "let" and without leading dots
  std::optional<std::string> type_name;  // never present for macro parameters
  SourceLocation location;               // of the header line
  bool is_mutable = false;               // written with "let"
};

// A "fn" definition; a macro shares the shape (MacroStatement).
struct MetaFunctionStatement {
  std::string name;  // a macro name may contain "."
  std::vector<MetaFunctionParam> params;
  std::optional<std::string> return_type;  // never present for macros
  StatementList body;
  SourceLocation location;  // of the header line
  bool variadic = false;    // a macro whose last parameter was written "...name"
};

struct MacroStatement : MetaFunctionStatement {};

struct ReturnStatement {
  expr::Node value;
  SourceLocation location;
};

struct BlockStatement {
  StatementList body;
  SourceLocation location;  // of the "{" line
};

struct DeferStatement {
  StatementList body;
  SourceLocation location;  // of the "defer {" line
};

struct LateLayoutStatement {
  StatementList body;
  SourceLocation location;  // of the "late_layout {" line
};

// Statement kinds in tag order; the tag is the index of the payload.
enum class StatementKind : std::uint8_t {
  label = 0,
  isa_text = 1,
  value_declaration = 2,
  assignment = 3,
  struct_declaration = 4,
  api_call = 5,
  meta_if = 6,
  meta_while = 7,
  meta_for = 8,
  break_loop = 9,
  continue_loop = 10,
  meta_function = 11,
  macro = 12,
  meta_return = 13,
  block = 14,
  defer_block = 15,
  late_layout_block = 16,
};

using StatementPayload =
    std::variant<LabelStatement, IsaTextStatement, ValueDeclarationStatement, AssignmentStatement,
                 StructDeclarationStatement, ApiCallStatement, MetaIfStatement, MetaWhileStatement,
                 MetaForRangeStatement, BreakStatement, ContinueStatement, MetaFunctionStatement, MacroStatement,
                 ReturnStatement, BlockStatement, DeferStatement, LateLayoutStatement>;

static_assert(std::variant_size_v<StatementPayload> == 17);
static_assert(
    std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(StatementKind::macro), StatementPayload>,
                   MacroStatement>);
static_assert(std::is_same_v<
              std::variant_alternative_t<static_cast<std::size_t>(StatementKind::late_layout_block), StatementPayload>,
              LateLayoutStatement>);

struct Statement {
  template <typename Payload>
  requires std::constructible_from<StatementPayload, Payload&&>
  explicit Statement(Payload&& record) : payload(std::forward<Payload>(record)) {}

  StatementPayload payload;

  StatementKind kind() const noexcept { return static_cast<StatementKind>(payload.index()); }

  // Where the statement begins; for ISA text, where its text lies.
  const SourceLocation& location() const noexcept;
};

// Fails with TooManyStatements when the list cannot take one more statement
// and still be indexed by 32 bits. Inline: it is asked once per line.
inline qovrin::Status checkRoomForStatement(const StatementList& list) noexcept {
  if (list.size() > std::numeric_limits<std::uint32_t>::max()) return qovrin::fail(qovrin::Error::TooManyStatements);
  return {};
}

// Builds the statement from its record in place at the end of the list.
template <typename Record>
qovrin::Status append(StatementList& list, Record&& record) {
  QOVRIN_TRY(checkRoomForStatement(list));
  list.emplace_back(std::forward<Record>(record));
  return {};
}

}  // namespace frontend::ast
