// Keys, values, tables and the document loop of the TOML reader.
//
// Keys are kept as lists of parts so that a quoted part holding a dot stays
// one key. Tables named by headers and dotted keys are collected in stores
// while reading (a header may reopen a table at any time) and turned into the
// node tree at the end.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/ascii.hpp"
#include "common/work_stack.hpp"
#include "data/toml_cursor.hpp"

namespace data::toml_parser {
namespace {

using qovrin::Error;
using qovrin::fail;

using KeyPath = std::vector<std::string>;

constexpr bool isBareKeyByte(char c) noexcept {
  return qovrin::isAsciiLetter(c) || qovrin::isAsciiDigit(c) || c == '_' || c == '-';
}

// Position of each key in a list of entries, for lookups that stay fast in
// tables with many keys.
class KeyIndex {
 public:
  std::optional<std::size_t> find(const std::string& key) const {
    const auto found = positions_.find(key);
    if (found == positions_.end()) return std::nullopt;
    return found->second;
  }
  void add(const std::string& key, std::size_t position) { positions_.emplace(key, position); }

 private:
  std::unordered_map<std::string, std::size_t> positions_;
};

enum class EntryKind : std::uint8_t { value, table, array_of_tables };

struct StoreEntry {
  std::string key;
  TextPosition written;  // of the key of a pair; of the header or pair that made a table
  EntryKind kind = EntryKind::value;
  Node value;                       // value entries
  std::size_t table = 0;            // table entries: index of the store
  std::vector<std::size_t> tables;  // arrays of tables: one store per header
};

struct TableStore {
  std::vector<StoreEntry> entries;  // first-stored order
  KeyIndex index;
  TextPosition made;  // of the header or pair that made it
};

qovrin::Result<std::string> parseSimpleKey(Cursor& cursor) {
  if (cursor.atEnd()) return fail(Error::Syntax);
  if (cursor.peek() == '"' || cursor.peek() == '\'') return parseString(cursor);
  const std::size_t start = cursor.position;
  while (isBareKeyByte(cursor.peek())) cursor.advance();
  return std::string(cursor.text.substr(start, cursor.position - start));
}

qovrin::Status appendKeyPart(Cursor& cursor, KeyPath& path) {
  if (path.size() >= kMaxNestingDepth) return fail(Error::NestingTooDeep);
  auto part = parseSimpleKey(cursor);
  if (!part) return fail(part.error());
  path.push_back(std::move(*part));
  skipBlanks(cursor);
  return {};
}

// The dotted key of a pair or an inline-table entry.
qovrin::Result<KeyPath> parseKey(Cursor& cursor) {
  KeyPath path;
  QOVRIN_TRY(appendKeyPart(cursor, path));
  while (cursor.peek() == '.') {
    cursor.advance();
    skipBlanks(cursor);
    QOVRIN_TRY(appendKeyPart(cursor, path));
  }
  return path;
}

// The path of a header, up to its closing bracket.
qovrin::Result<KeyPath> parseKeyPath(Cursor& cursor) {
  KeyPath path;
  skipBlanks(cursor);
  while (!cursor.atEnd() && cursor.peek() != ']') {
    QOVRIN_TRY(appendKeyPart(cursor, path));
    if (cursor.peek() != '.') break;
    cursor.advance();
    skipBlanks(cursor);
  }
  return path;
}

std::string joinKey(const KeyPath& path) {
  std::string joined = path.front();
  for (std::size_t index = 1; index < path.size(); ++index) {
    joined.push_back('.');
    joined += path[index];
  }
  return joined;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : cursor_{text} { stores_.emplace_back(); }

  qovrin::Result<ParseResult> run() {
    while (true) {
      while (isBlank(cursor_.peek()) || isLineEndByte(cursor_.peek())) cursor_.advance();
      if (cursor_.atEnd()) break;
      if (cursor_.peek() == '#') {
        skipComment(cursor_);
        continue;
      }
      if (cursor_.startsWith("[[")) {
        QOVRIN_TRY(parseArrayOfTablesHeader());
      } else if (cursor_.peek() == '[') {
        QOVRIN_TRY(parseTableHeader());
      } else {
        QOVRIN_TRY(parsePair());
      }
      skipBlanks(cursor_);
      if (cursor_.peek() == '#') skipComment(cursor_);
    }
    Node root = storeToNode(0);
    root.line = 1;
    root.column = 1;
    return ParseResult{std::move(root)};
  }

  // Where reading stopped, for a failure's message.
  TextPosition position() const noexcept { return {cursor_.line, cursor_.column}; }

 private:
  std::size_t newStore(TextPosition made) {
    stores_.emplace_back().made = made;
    return stores_.size() - 1;
  }

  std::optional<std::size_t> findEntry(std::size_t store, const std::string& key) const {
    return stores_[store].index.find(key);
  }

  StoreEntry& appendEntry(std::size_t store, std::string key, EntryKind kind, TextPosition written) {
    TableStore& target = stores_[store];
    target.index.add(key, target.entries.size());
    target.entries.push_back(StoreEntry{std::move(key), written, kind, Node{}, 0, {}});
    return target.entries.back();
  }

  // The store reached from start along the path; empty parts are skipped.
  // Tables made on the way are placed at `at`, the header or pair that made them.
  qovrin::Result<std::size_t> resolveTableStore(std::size_t start, std::span<const std::string> path, TextPosition at) {
    std::size_t store = start;
    for (const std::string& segment : path) {
      if (segment.empty()) continue;
      const auto position = findEntry(store, segment);
      if (!position) {
        const std::size_t child = newStore(at);
        appendEntry(store, segment, EntryKind::table, at).table = child;
        store = child;
        continue;
      }
      // Stores live in a deque, so adding one leaves this reference valid.
      StoreEntry& entry = stores_[store].entries[*position];
      switch (entry.kind) {
        case EntryKind::value:
          return fail(Error::DuplicateKey);
        case EntryKind::table:
          store = entry.table;
          break;
        case EntryKind::array_of_tables:
          if (entry.tables.empty()) entry.tables.push_back(newStore(at));
          store = entry.tables.back();
          break;
      }
    }
    return store;
  }

  qovrin::Status parseTableHeader() {
    const TextPosition header{cursor_.line, cursor_.column};
    cursor_.advance();
    auto path = parseKeyPath(cursor_);
    if (!path) return fail(path.error());
    skipBlanks(cursor_);
    if (cursor_.peek() != ']') return fail(Error::Syntax);
    cursor_.advance();
    const auto store = resolveTableStore(0, *path, header);
    if (!store) return fail(store.error());
    current_ = *store;
    return {};
  }

  qovrin::Status parseArrayOfTablesHeader() {
    const TextPosition header{cursor_.line, cursor_.column};
    cursor_.advance(2);
    auto path = parseKeyPath(cursor_);
    if (!path) return fail(path.error());
    skipBlanks(cursor_);
    if (!cursor_.startsWith("]]")) return fail(Error::Syntax);
    cursor_.advance(2);
    std::string leaf = path->empty() ? std::string() : std::move(path->back());
    const std::span<const std::string> parent_path(path->data(), path->empty() ? 0 : path->size() - 1);
    const auto parent = resolveTableStore(0, parent_path, header);
    if (!parent) return fail(parent.error());
    const std::size_t child = newStore(header);
    if (const auto position = findEntry(*parent, leaf)) {
      StoreEntry& entry = stores_[*parent].entries[*position];
      if (entry.kind != EntryKind::array_of_tables) return fail(Error::DuplicateKey);
      entry.tables.push_back(child);
    } else {
      appendEntry(*parent, std::move(leaf), EntryKind::array_of_tables, header).tables.push_back(child);
    }
    current_ = child;
    return {};
  }

  qovrin::Status parsePair() {
    const TextPosition written{cursor_.line, cursor_.column};
    auto key = parseKey(cursor_);
    if (!key) return fail(key.error());
    skipBlanks(cursor_);
    if (cursor_.peek() != '=') return fail(Error::Syntax);
    cursor_.advance();
    auto value = parseValue(0);
    if (!value) return fail(value.error());
    const auto target =
        resolveTableStore(current_, std::span<const std::string>(key->data(), key->size() - 1), written);
    if (!target) return fail(target.error());
    if (const auto position = findEntry(*target, key->back())) {
      StoreEntry& entry = stores_[*target].entries[*position];
      entry.kind = EntryKind::value;
      entry.value = std::move(*value);
      entry.written = written;
      entry.tables.clear();
    } else {
      StoreEntry& entry = appendEntry(*target, std::move(key->back()), EntryKind::value, written);
      entry.value = std::move(*value);
    }
    return {};
  }

  qovrin::Result<Node> parseValue(std::size_t depth) {
    skipBlanks(cursor_);
    if (cursor_.atEnd()) return fail(Error::Syntax);
    Node node;
    node.line = cursor_.line;
    node.column = cursor_.column;
    auto value = parseValueAfterBlanks(depth);
    if (!value) return fail(value.error());
    node.value = std::move(*value);
    return node;
  }

  qovrin::Result<Node::TomlValue> keyword(std::string_view word, Node::TomlValue value) {
    if (!cursor_.startsWith(word)) return fail(Error::Syntax);
    cursor_.advance(word.size());
    return value;
  }

  qovrin::Result<Node::TomlValue> parseValueAfterBlanks(std::size_t depth) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const double quiet_nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
    switch (const char first = cursor_.peek()) {
      case '"':
      case '\'': {
        auto text = parseString(cursor_);
        if (!text) return fail(text.error());
        return Node::TomlValue(std::move(*text));
      }
      case 't': return keyword("true", true);
      case 'f': return keyword("false", false);
      case 'i': return keyword("inf", kInfinity);
      case 'n': return keyword("nan", quiet_nan);
      case '[': return parseArray(depth + 1);
      case '{': return parseInlineTable(depth + 1);
      case '+':
      case '-': {
        const std::string_view word = cursor_.text.substr(cursor_.position + 1, 3);
        if (word == "inf" || word == "nan") {
          cursor_.advance(4);
          const double magnitude = word == "inf" ? kInfinity : quiet_nan;
          return Node::TomlValue(first == '-' ? -magnitude : magnitude);
        }
        return parseNumberToken(cursor_);
      }
      default:
        if (qovrin::isAsciiDigit(first)) return parseNumberToken(cursor_);
        return fail(Error::Syntax);
    }
  }

  qovrin::Result<Node::TomlValue> parseArray(std::size_t depth) {
    if (depth > kMaxNestingDepth || qovrin::workStackFull()) return fail(Error::NestingTooDeep);
    cursor_.advance();
    Node::Array items;
    skipWhitespaceNewlinesAndComments(cursor_);
    while (cursor_.peek() != ']') {
      auto item = parseValue(depth);
      if (!item) return fail(item.error());
      items.push_back(std::move(*item));
      skipWhitespaceNewlinesAndComments(cursor_);
      if (cursor_.peek() == ',') {
        cursor_.advance();
        skipWhitespaceNewlinesAndComments(cursor_);
      } else if (cursor_.peek() != ']') {
        return fail(Error::Syntax);
      }
    }
    cursor_.advance();
    return Node::TomlValue(std::move(items));
  }

  // Dotted keys stay one joined key here; a repeated key replaces the earlier
  // value in place, as in ordinary tables.
  qovrin::Result<Node::TomlValue> parseInlineTable(std::size_t depth) {
    if (depth > kMaxNestingDepth || qovrin::workStackFull()) return fail(Error::NestingTooDeep);
    cursor_.advance();
    Node::Table entries;
    KeyIndex index;
    skipBlanks(cursor_);
    if (cursor_.peek() == '}') {
      cursor_.advance();
      return Node::TomlValue(std::move(entries));
    }
    while (true) {
      skipBlanks(cursor_);
      const TextPosition written{cursor_.line, cursor_.column};
      auto key = parseKey(cursor_);
      if (!key) return fail(key.error());
      skipBlanks(cursor_);
      if (cursor_.peek() != '=') return fail(Error::Syntax);
      cursor_.advance();
      auto value = parseValue(depth);
      if (!value) return fail(value.error());
      std::string joined = key->size() == 1 ? std::move(key->front()) : joinKey(*key);
      if (const auto position = index.find(joined)) {
        entries[*position].node = std::move(*value);
        entries[*position].line = written.line;
        entries[*position].column = written.column;
      } else {
        index.add(joined, entries.size());
        entries.push_back(TableEntry{std::move(joined), std::move(*value), written.line, written.column});
      }
      skipBlanks(cursor_);
      if (cursor_.peek() == '}') break;
      if (cursor_.peek() != ',') return fail(Error::Syntax);
      cursor_.advance();
    }
    cursor_.advance();
    return Node::TomlValue(std::move(entries));
  }

  Node storeToNode(std::size_t store) {
    Node::Table table;
    table.reserve(stores_[store].entries.size());
    for (StoreEntry& entry : stores_[store].entries) {
      switch (entry.kind) {
        case EntryKind::value:
          table.push_back(
              TableEntry{std::move(entry.key), std::move(entry.value), entry.written.line, entry.written.column});
          break;
        case EntryKind::table:
          table.push_back(
              TableEntry{std::move(entry.key), storeToNode(entry.table), entry.written.line, entry.written.column});
          break;
        case EntryKind::array_of_tables: {
          Node::Array tables;
          tables.reserve(entry.tables.size());
          for (const std::size_t child : entry.tables) tables.push_back(storeToNode(child));
          table.push_back(TableEntry{std::move(entry.key),
                                     Node{std::move(tables), entry.written.line, entry.written.column},
                                     entry.written.line, entry.written.column});
          break;
        }
      }
    }
    return Node{std::move(table), stores_[store].made.line, stores_[store].made.column};
  }

  Cursor cursor_;
  std::deque<TableStore> stores_;  // index 0 is the document's top level
  std::size_t current_ = 0;
};

}  // namespace

std::string_view kindName(NodeKind kind) noexcept {
  static constexpr std::string_view kNames[] = {"string", "int64", "fp64", "boolean", "timestamp", "array", "table"};
  return kNames[static_cast<std::size_t>(kind)];
}

qovrin::Result<ParseResult> parse(std::string_view text, TextPosition* failed_at) {
  Parser parser(text);
  auto result = parser.run();
  if (!result && failed_at != nullptr) *failed_at = parser.position();
  return result;
}

namespace {

// Back from the line and column to the byte.
Cursor cursorAt(std::string_view text, TextPosition at) noexcept {
  Cursor cursor{text};
  while (!cursor.atEnd() && (cursor.line < at.line || (cursor.line == at.line && cursor.column < at.column)))
    cursor.advance();
  return cursor;
}

}  // namespace

std::string describeStop(std::string_view text, TextPosition at) {
  Cursor cursor = cursorAt(text, at);
  if (cursor.atEnd()) return "the file ends where TOML needs more";
  if (isLineEndByte(cursor.peek())) return "the line ends where TOML needs more";
  const auto byte = static_cast<unsigned char>(cursor.peek());
  if (byte < 0x20 || byte >= 0x7F) {
    constexpr char kHex[] = "0123456789abcdef";
    return std::string("the byte \\x") + kHex[byte >> 4] + kHex[byte & 15] + " cannot stand here";
  }
  return "'" + std::string(1, static_cast<char>(byte)) + "' cannot stand here";
}

std::string describeFailure(Error error, std::string_view text, TextPosition at) {
  if (error == Error::DuplicateKey) return "a key or table of this name is defined already";
  if (error == Error::Overflow) return describeNumberOverflow(text, cursorAt(text, at).position);
  if (error == Error::NestingTooDeep) return "arrays, inline tables and dotted keys nest at most 1,024 levels deep";
  return describeStop(text, at);
}

}  // namespace data::toml_parser
