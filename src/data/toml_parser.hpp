#pragma once
// The program's own TOML reader, shared by the project file and the toml.*
// builtins. It reads a practical, lenient subset of TOML into a tree whose
// root is a table; dates and times are kept as the text written.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/error.hpp"

namespace data::toml_parser {

// Tag order is fixed: NodeKind is the index of the active alternative.
enum class NodeKind : std::uint8_t { string, int64, fp64, boolean, timestamp, array, table };

// "string", "int64", "fp64", "boolean", "timestamp", "array", "table".
std::string_view kindName(NodeKind kind) noexcept;

// A date, a time or both, exactly as written; only its shape is checked.
struct Timestamp {
  std::string text;
};

struct TableEntry;

struct Node {
  using Array = std::vector<Node>;
  using Table = std::vector<TableEntry>;  // document order, keys unique
  using TomlValue = std::variant<std::string, std::int64_t, double, bool, Timestamp, Array, Table>;

  TomlValue value;
  // Where the value began (1-based); for tables and arrays of tables that
  // headers and dotted keys made, where the header or the pair that made
  // them begins.
  std::uint64_t line = 0;
  std::uint64_t column = 0;

  NodeKind kind() const noexcept { return static_cast<NodeKind>(value.index()); }
};

struct TableEntry {
  std::string key;
  Node node;
  // Where the key was written (1-based); for tables that headers and dotted
  // keys made, where the header or the pair that made them begins.
  std::uint64_t line = 0;
  std::uint64_t column = 0;
};

// A place in a document, 1-based.
struct TextPosition {
  std::uint64_t line = 0;
  std::uint64_t column = 0;
};

struct ParseResult {
  Node root;  // always a table
};

// Arrays and inline tables nested deeper than this, and keys of more parts,
// are refused with NestingTooDeep, so hostile input cannot exhaust the stack.
// It is the depth that lists and maps of meta values reach, so a document
// read into values meets one limit.
inline constexpr std::size_t kMaxNestingDepth = 1024;

// Reads a whole document. Failures: Syntax, DuplicateKey, Overflow,
// NestingTooDeep; failed_at, when given, then receives where reading stopped.
qovrin::Result<ParseResult> parse(std::string_view text, TextPosition* failed_at = nullptr);

// What a reader finds at the place where a document stopped being read, for
// a message: "the line ends where TOML needs more", "'x' cannot stand
// here", ...
std::string describeStop(std::string_view text, TextPosition at);

// The same for a failure of parse: its cause when the error names one (a
// number past 64 bits, a key given twice, nesting too deep), else what
// describeStop finds there.
std::string describeFailure(qovrin::Error error, std::string_view text, TextPosition at);

}  // namespace data::toml_parser
