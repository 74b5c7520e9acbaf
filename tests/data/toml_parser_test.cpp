#include "data/toml_parser.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "common/error_of.hpp"

using qovrin::testing::errorOf;

namespace {

using data::toml_parser::Node;
using data::toml_parser::NodeKind;
using data::toml_parser::describeFailure;
using data::toml_parser::describeStop;
using data::toml_parser::parse;
using data::toml_parser::TableEntry;
using data::toml_parser::TextPosition;
using qovrin::Error;

std::string shortestText(double number) {
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, number).ptr;
  return std::string(buffer, end);
}

// Compact text of a tree: {key=value,...}, [items], "strings", @timestamps,
// floats with a "f" prefix.
std::string render(const Node& node) {
  switch (node.kind()) {
    case NodeKind::string: return '"' + std::get<std::string>(node.value) + '"';
    case NodeKind::int64: return std::to_string(std::get<std::int64_t>(node.value));
    case NodeKind::fp64: return "f" + shortestText(std::get<double>(node.value));
    case NodeKind::boolean: return std::get<bool>(node.value) ? "true" : "false";
    case NodeKind::timestamp: return '@' + std::get<data::toml_parser::Timestamp>(node.value).text;
    case NodeKind::array: {
      std::string out = "[";
      for (const Node& item : std::get<Node::Array>(node.value)) out += (out.size() > 1 ? "," : "") + render(item);
      return out + "]";
    }
    case NodeKind::table: {
      std::string out = "{";
      for (const auto& entry : std::get<Node::Table>(node.value))
        out += (out.size() > 1 ? "," : "") + entry.key + "=" + render(entry.node);
      return out + "}";
    }
  }
  return "?";
}

std::string rendered(std::string_view text) {
  const auto result = parse(text);
  if (!result) return "error " + std::string(qovrin::errorName(result.error()));
  return render(result->root);
}

TEST(TomlParser, ReadsDocumentsIntoTrees) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", "{}"},
      {"# only\n\r\n  # comments\n", "{}"},
      {"b = 1 a = 2", "{b=1,a=2}"},
      {"a = 1\na = 2", "{a=2}"},
      {"[t] x = 1", "{t={x=1}}"},
      {"[t]\nx = 1\n[u]\n[t]\ny = 2", "{t={x=1,y=2},u={}}"},
      {"a.b = 1\na = 2", "{a=2}"},
      {"a.b = 1\na.c = 2", "{a={b=1,c=2}}"},
      {"[[f]]\n[[f]]\n[[f]]\n[f.g]\nx = 1\n[f]\ny = 2", "{f=[{},{},{g={x=1},y=2}]}"},
      {"[[a.b]]\nx = 1\n[[a.b]]\nx = 2", "{a={b=[{x=1},{x=2}]}}"},
      {"\"a.b\" = 1", "{a.b=1}"},
      {"[a.\"b.c\"]\nx = 1", "{a={b.c={x=1}}}"},
      {"x = {a.b = 1}", "{x={a.b=1}}"},
      {"x = {k = 1, k = 2, j = 3}", "{x={k=2,j=3}}"},
      {"x = [1, 'lit', [1.5], {k = true},]", "{x=[1,\"lit\",[f1.5],{k=true}]}"},
      {"x = [\n  1, # one\n  2\n]", "{x=[1,2]}"},
      {"= 1", "{=1}"},
      {"[a]\n[]\nb = 1", "{a={},b=1}"},
      {"a = 1 # c\n[b] # d\nc = 2", "{a=1,b={c=2}}"},
      {"n = [0xFF, 0o17, 0b1010, 1_000, +5, -0, 007, -9223372036854775808]",
       "{n=[255,15,10,1000,5,0,7,-9223372036854775808]}"},
      {"n = [1e3, -2.5, +inf, inf, 6.02_2e2, 1e400, -1e-400]", "{n=[f1000,f-2.5,finf,finf,f602.2,finf,f-0]}"},
      {"d = [1979-05-27T07:32:00Z, 1979-05-27, 07:32, 07:32:00.5, 1979-05-27t07:32:00-07:00]",
       "{d=[@1979-05-27T07:32:00Z,@1979-05-27,@07:32,@07:32:00.5,@1979-05-27t07:32:00-07:00]}"},
      {R"(s = ["a\tb\u00E9\U0001F600", 'c:\x', "q\"\\"])", "{s=[\"a\tb\xC3\xA9\xF0\x9F\x98\x80\",\"c:\\x\",\"q\"\\\"]}"},
      {"s = \"\"\"\nline\r\n\"two\"\" x\"\"\"", "{s=\"line\r\n\"two\"\" x\"}"},
      {"s = \"\"\"\\\n   \n  joined \\\n  here\"\"\"", "{s=\"joined here\"}"},
      {"s = '''\nraw \\n '' '''", "{s=\"raw \\n '' \"}"},
      {"a = truex = 1", "{a=true,x=1}"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(rendered(text), expected) << text;
}

TEST(TomlParser, RefusesBadDocuments) {
  const std::pair<std::string_view, Error> cases[] = {
      {"a = ", Error::Syntax},
      {"a", Error::Syntax},
      {"[a", Error::Syntax},
      {"[[a]", Error::Syntax},
      {"a = tru", Error::Syntax},
      {"a = nope", Error::Syntax},
      {"a = @", Error::Syntax},
      {"a = \"open", Error::Syntax},
      {"a = \"two\nlines\"", Error::Syntax},
      {"a = 'open", Error::Syntax},
      {"a = \"\"\"open", Error::Syntax},
      {"a = '''open", Error::Syntax},
      {R"(a = "\e")", Error::Syntax},
      {R"(a = "\uD800")", Error::Syntax},
      {R"(a = "\U00110000")", Error::Syntax},
      {R"(a = "\u12")", Error::Syntax},
      {"a = \"x\\", Error::Syntax},
      {"a = \"\"\"x\\ \ny\"\"\"", Error::Syntax},
      {"a = 1979-05-27 07:32:00", Error::Syntax},
      {"a = 12ab", Error::Syntax},
      {"a = [1 2]", Error::Syntax},
      {"a = [1,", Error::Syntax},
      {"a = {x = 1,}", Error::Syntax},
      {"a = {x = 1,\n y = 2}", Error::Syntax},
      {"a = {x = 1", Error::Syntax},
      {"a = 9223372036854775808", Error::Overflow},
      {"a = 0x8000000000000000", Error::Overflow},
      {"a = 0x1_0000_0000_0000_0000", Error::Overflow},
      {"a = 0o1000000000000000000000", Error::Overflow},
      {"a = 0b1000000000000000000000000000000000000000000000000000000000000000", Error::Overflow},
      {"a = 0x7FFFFFFFFFFFFFFFg", Error::Syntax},
      {"a = +_1", Error::Overflow},
      {"a = 1.2.3", Error::Overflow},
      {"a = 1\n[a]", Error::DuplicateKey},
      {"a = 1\na.b = 2", Error::DuplicateKey},
      {"a = {}\n[a.b]", Error::DuplicateKey},
      {"[x]\n[[x]]", Error::DuplicateKey},
      {"x = 1\n[[x]]", Error::DuplicateKey},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(errorOf(parse(text)), error) << text;
}

TEST(TomlParser, SpecialFloatsKeepTheirSign) {
  const auto result = parse("a = -nan\nb = nan\nc = -inf");
  ASSERT_TRUE(result);
  const auto& entries = std::get<Node::Table>(result->root.value);
  EXPECT_TRUE(std::isnan(std::get<double>(entries[0].node.value)));
  EXPECT_TRUE(std::signbit(std::get<double>(entries[0].node.value)));
  EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<double>(entries[1].node.value)), 0x7FF8000000000000u);
  EXPECT_EQ(std::get<double>(entries[2].node.value), -std::numeric_limits<double>::infinity());
}

TEST(TomlParser, RecordsWhereValuesBegin) {
  using Place = std::pair<std::uint64_t, std::uint64_t>;
  const auto placeOf = [](const Node& node) { return Place(node.line, node.column); };
  const auto result = parse("a = 1\n[t]\n  b = [2]");
  ASSERT_TRUE(result);
  const auto& entries = std::get<Node::Table>(result->root.value);
  EXPECT_EQ(placeOf(result->root), Place(1, 1));
  EXPECT_EQ(placeOf(entries[0].node), Place(1, 5));
  EXPECT_EQ(placeOf(entries[1].node), Place(2, 1));
  EXPECT_EQ(placeOf(std::get<Node::Table>(entries[1].node.value)[0].node), Place(3, 7));
  // Keys too: of a pair, of an inline-table entry, a header's table at its header.
  const auto keyOf = [](const TableEntry& entry) { return Place(entry.line, entry.column); };
  EXPECT_EQ(keyOf(entries[0]), Place(1, 1));
  EXPECT_EQ(keyOf(entries[1]), Place(2, 1));
  EXPECT_EQ(keyOf(std::get<Node::Table>(entries[1].node.value)[0]), Place(3, 3));
  const auto inline_table = parse("t = { x = 1,  y = 2 }");
  ASSERT_TRUE(inline_table);
  const auto& inner = std::get<Node::Table>(std::get<Node::Table>(inline_table->root.value)[0].node.value);
  EXPECT_EQ(keyOf(inner[1]), Place(1, 15));
  // Arrays of tables, each table of them, and tables a dotted key made.
  const auto made = parse("x = 0\n[[a]]\n[[a]]\n  b.c = 1");
  ASSERT_TRUE(made);
  const auto& array = std::get<Node::Table>(made->root.value)[1];
  EXPECT_EQ(keyOf(array), Place(2, 1));
  EXPECT_EQ(placeOf(std::get<Node::Array>(array.node.value)[1]), Place(3, 1));
  const auto& dotted = std::get<Node::Table>(std::get<Node::Array>(array.node.value)[1].value)[0];
  EXPECT_EQ(keyOf(dotted), Place(4, 3));
}

TEST(TomlParser, SaysWhereAndWhyReadingStopped) {
  struct Case {
    std::string_view text;
    TextPosition at;
    std::string_view why;
  };
  const Case cases[] = {
      {"a = 1\n[b\n", {2, 3}, "the line ends where TOML needs more"},
      {"a = ", {1, 5}, "the file ends where TOML needs more"},
      {"a = 1\r\nb = @", {2, 5}, "'@' cannot stand here"},
      {"a = \x01", {1, 5}, "the byte \\x01 cannot stand here"},
  };
  for (const Case& c : cases) {
    TextPosition at;
    EXPECT_FALSE(parse(c.text, &at)) << c.text;
    EXPECT_EQ(std::make_pair(at.line, at.column), std::make_pair(c.at.line, c.at.column)) << c.text;
    EXPECT_EQ(describeStop(c.text, at), c.why) << c.text;
  }
}

// Integers between the signed and the unsigned 64-bit limits are told apart
// from those past 64 bits and from numbers of no form.
TEST(TomlParser, TellsWhyANumberWasRefused) {
  const std::string_view signed_range = "is past the largest TOML integer: TOML integers are signed, and the largest is "
                                        "9223372036854775807";
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"a = 9223372036854775808", signed_range},
      {"a = 18_446_744_073_709_551_615", signed_range},
      {"a = 0xFFFF_FFFF_FFFF_FFFF", signed_range},
      {"b = [1, 0o1777777777777777777777]", signed_range},
      {"a = 18446744073709551616", "does not fit a 64-bit integer"},
      {"a = -9223372036854775809", "does not fit a 64-bit integer"},
      {"a = 0x1_0000_0000_0000_0000", "does not fit a 64-bit integer"},
      {"a = 1.2.3", "does not read as a TOML number"},
      {"a = +_1", "does not read as a TOML number"},
  };
  for (const auto& [text, why] : cases) {
    TextPosition at;
    const auto parsed = parse(text, &at);
    ASSERT_EQ(errorOf(parsed), Error::Overflow) << text;
    EXPECT_EQ(describeFailure(Error::Overflow, text, at), "the number before here " + std::string(why)) << text;
  }
}

std::string repeated(std::string_view text, std::size_t count) {
  std::string out;
  for (std::size_t index = 0; index < count; ++index) out += text;
  return out;
}

TEST(TomlParser, DeepNestingIsRefusedNotACrash) {
  const std::pair<std::string, Error> cases[] = {
      {"a = " + std::string(100000, '['), Error::NestingTooDeep},
      {"a = " + std::string(100000, '{'), Error::Syntax},
      {"a = " + repeated("{a = ", 100000), Error::NestingTooDeep},
      {"[" + std::string(100000, '.') + "]", Error::NestingTooDeep},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(errorOf(parse(text)), error) << text.substr(0, 8);
  // Arrays, inline tables and the parts of a key each reach the limit and
  // stop one past it.
  const std::size_t limit = data::toml_parser::kMaxNestingDepth;
  const auto key = [](std::size_t parts) { return "k" + repeated(".k", parts - 1); };
  const auto arrays = [](std::size_t depth) { return "a = " + repeated("[", depth) + repeated("]", depth); };
  const auto tables = [](std::size_t depth) { return "a = " + repeated("{a = ", depth) + "1" + repeated("}", depth); };
  EXPECT_TRUE(parse(arrays(limit)));
  EXPECT_EQ(errorOf(parse(arrays(limit + 1))), Error::NestingTooDeep);
  EXPECT_TRUE(parse(tables(limit)));
  EXPECT_EQ(errorOf(parse(tables(limit + 1))), Error::NestingTooDeep);
  EXPECT_TRUE(parse("[" + key(limit) + "]\n" + key(limit) + " = 1"));
  EXPECT_EQ(errorOf(parse("[" + key(limit + 1) + "]")), Error::NestingTooDeep);
  EXPECT_EQ(errorOf(parse(key(limit + 1) + " = 1")), Error::NestingTooDeep);
}

}  // namespace
