#include "frontend/expr.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <limits>
#include <string>
#include <vector>

namespace {

using frontend::expr::BinaryOperator;
using frontend::expr::BuiltinArgument;
using frontend::expr::ExpressionParser;
using frontend::expr::kMaxNodeDepth;
using frontend::expr::Node;
using frontend::expr::NodeKind;
using frontend::expr::parseOwned;
using frontend::expr::UnaryOperator;
using qovrin::Error;

const char* spelling(UnaryOperator op) {
  constexpr const char* kNames[] = {"+", "-", "~", "!"};
  return kNames[static_cast<int>(op)];
}

const char* spelling(BinaryOperator op) {
  constexpr const char* kNames[] = {"||", "&&", "==", "!=", "<",  "<=", ">", ">=", "+",
                                    "-",  "*",  "/",  "%",  "<<", ">>", "&", "|",  "^"};
  return kNames[static_cast<int>(op)];
}

// Prefix form of a tree: (op operands...), (. object field), (call args...);
// bare-name arguments print as #name, raw arguments as [text].
std::string show(const Node& node) {
  switch (node.kind) {
    case NodeKind::integer:
      return std::to_string(node.integer);
    case NodeKind::float64: {
      char buffer[64];
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, node.number).ptr;
      return "f" + std::string(buffer, end);
    }
    case NodeKind::boolean:
      return node.boolean ? "true" : "false";
    case NodeKind::string:
      return "\"" + node.text + "\"";
    case NodeKind::bytes:
      return "b\"" + node.text + "\"";
    case NodeKind::identifier:
      return node.text;
    case NodeKind::field_access:
      return "(. " + show(*node.left) + " " + node.text + ")";
    case NodeKind::builtin_call: {
      std::string out = "(" + node.text;
      for (const BuiltinArgument& argument : node.arguments) {
        if (argument.kind == BuiltinArgument::Kind::expression) out += " " + show(*argument.expression);
        if (argument.kind == BuiltinArgument::Kind::bare_name) out += " #" + argument.text;
        if (argument.kind == BuiltinArgument::Kind::raw_text) out += " [" + argument.text + "]";
      }
      return out + ")";
    }
    case NodeKind::unary:
      return std::string("(") + spelling(node.unary_operator) + " " + show(*node.left) + ")";
    case NodeKind::binary:
      return std::string("(") + spelling(node.binary_operator) + " " + show(*node.left) + " " + show(*node.right) + ")";
  }
  return "?";
}

std::string parsed(std::string_view text) {
  const auto node = parseOwned(text);
  if (!node) return std::string("error ") + std::string(qovrin::errorName(node.error()));
  return show(*node);
}

struct ShapeCase {
  std::string text;
  std::string tree;
};

void expectShapes(std::initializer_list<ShapeCase> cases) {
  for (const auto& c : cases) EXPECT_EQ(parsed(c.text), c.tree) << c.text;
}

struct ErrorCase {
  std::string text;
  Error error;
};

void expectErrors(std::initializer_list<ErrorCase> cases) {
  for (const auto& c : cases) {
    const auto node = parseOwned(c.text);
    ASSERT_FALSE(node.has_value()) << c.text << " gave " << show(*node);
    EXPECT_EQ(qovrin::errorName(node.error()), qovrin::errorName(c.error)) << c.text;
  }
}

std::string repeated(std::string_view piece, std::size_t count) {
  std::string out;
  for (std::size_t index = 0; index < count; ++index) out += piece;
  return out;
}

TEST(ExprNumbers, Integers) {
  struct Case {
    const char* text;
    std::uint64_t value;
  };
  const Case cases[] = {
      {"0x1F", 31},
      {"0X1f", 31},
      {"0h1f", 31},
      {"1fh", 31},
      {"1FH", 31},
      {"31", 31},
      {"0b101", 5},
      {"101b", 5},
      {"5", 5},
      {"0", 0},
      {"017", 15},
      {"0o17", 15},
      {"17o", 15},
      {"09", 9},
      {"0abh", 171},
      {"1'000'000", 1000000},
      {"1_000_000", 1000000},
      {"0x1e5", 485},
      {"0xFF_FF", 65535},
      {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"0xffffffffffffffff", std::numeric_limits<std::uint64_t>::max()},
  };
  for (const auto& c : cases) {
    const auto node = parseOwned(c.text);
    ASSERT_TRUE(node.has_value()) << c.text;
    EXPECT_EQ(node->kind, NodeKind::integer) << c.text;
    EXPECT_EQ(node->integer, c.value) << c.text;
  }
}

TEST(ExprNumbers, Floats) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"1.5e3", 1500.0}, {"1500.0", 1500.0},       {"1e5", 1e5},
      {"2.5E+2", 250.0}, {"1_000.2_5", 1000.25},   {"4e-1", 0.4},
      {"1e-400", 0.0},   {"0.0e99999999999", 0.0}, {"1e308", 1e308},
  };
  for (const auto& c : cases) {
    const auto node = parseOwned(c.text);
    ASSERT_TRUE(node.has_value()) << c.text;
    EXPECT_EQ(node->kind, NodeKind::float64) << c.text;
    EXPECT_EQ(node->number, c.value) << c.text;
  }
}

TEST(ExprNumbers, Malformed) {
  expectErrors({{"18446744073709551616", Error::InvalidNumber},
                {"0x10000000000000000", Error::InvalidNumber},
                {"0x", Error::InvalidNumber},
                {"0h", Error::InvalidNumber},
                {"0b2", Error::InvalidNumber},
                {"19o", Error::InvalidNumber},
                {"12a", Error::InvalidNumber},
                {"1.2.3", Error::InvalidNumber},
                {"1e400", Error::InvalidNumber},
                {"1" + std::string(400, '0') + "e-50", Error::InvalidNumber},
                {"0x1.5", Error::InvalidNumber}});
}

TEST(ExprNumbers, TokenBoundaries) {
  expectShapes(
      {{"1.x", "(. 1 x)"}, {"1e+5+1", "(+ f1e+05 1)"}, {"0x1e+5", "(+ 30 5)"}, {"2-1", "(- 2 1)"}, {"-5", "(- 5)"}});
}

TEST(ExprNumbers, NormalizeDropsSeparatorsAndLowers) {
  EXPECT_EQ(frontend::expr::normalizeNumberToken("0X1_F'Ab"), "0x1fab");
  EXPECT_EQ(frontend::expr::normalizeNumberToken("'_"), "");
}

TEST(ExprPrecedence, LevelsAndAssociativity) {
  expectShapes({
      {"1 - 2 - 3", "(- (- 1 2) 3)"},
      {"2 * 3 % 4", "(% (* 2 3) 4)"},
      {"a && b || c", "(|| (&& a b) c)"},
      {"a || b && c", "(|| a (&& b c))"},
      {"1 << 2 + 3", "(<< 1 (+ 2 3))"},
      {"1 + 2 << 3", "(<< (+ 1 2) 3)"},
      {"a | b ^ c & d", "(| a (^ b (& c d)))"},
      {"a & b << c", "(& a (<< b c))"},
      {"a == b < c", "(== a (< b c))"},
      {"a < b | c", "(< a (| b c))"},
      {"a != b == c", "(== (!= a b) c)"},
      {"x>>1>=2", "(>= (>> x 1) 2)"},
      {"a<=b", "(<= a b)"},
      {"a + b * c - d / e", "(- (+ a (* b c)) (/ d e))"},
      {"(1 + 2) * 3", "(* (+ 1 2) 3)"},
      {"a * -b", "(* a (- b))"},
  });
}

TEST(ExprPrecedence, UnaryChains) {
  expectShapes({{"- -1", "(- (- 1))"}, {"!~x", "(! (~ x))"}, {"-2 * 3", "(* (- 2) 3)"}, {"+a", "(+ a)"}});
}

TEST(ExprPrimary, NamesLiteralsAndFields) {
  expectShapes({
      {"true", "true"},
      {"false", "false"},
      {"b\"AB\"", "b\"AB\""},
      {"\"a\"\"b\"", "\"a\"b\""},
      {"'it''s'", "\"it's\""},
      {"'a\\n'", "\"a\\n\""},
      {"\"x'y\"", "\"x'y\""},
      {"(a).b.c", "(. (. a b) c)"},
      {"a .b", "(. a b)"},
      {"f(1).x", "(. (f 1) x)"},
      {"list.items", "(. list items)"},
      {"x$1_y", "x$1_y"},
      {"  \r\n a \t", "a"},
  });
}

TEST(ExprBuiltinCalls, ArgumentKinds) {
  expectShapes({
      {"f()", "(f)"},
      {"f( )", "(f)"},
      {"len(x)", "(len #x)"},
      {"f( a , b )", "(f #a #b)"},
      {"f(true)", "(f true)"},
      {"f(a.b)", "(f (. a b))"},
      {"f(a + 1, g(2))", "(f (+ a 1) (g 2))"},
      {"sizeof(Header)", "(sizeof #Header)"},
      {"offset_of(Header, a.b)", "(offset_of #Header #a.b)"},
      {"other(Header, a.b)", "(other #Header (. a b))"},
      {"f(Point{ x: 1, y: \"}\" })", "(f [Point{ x: 1, y: \"}\" }])"},
      {"f(P { a: Q{ b: '{' } }, 2)", "(f [P { a: Q{ b: '{' } }] 2)"},
      {"list.push(xs, 1)", "(list.push #xs 1)"},
      {"load.u8(0)", "(load.u8 0)"},
      {"sym.unique()", "(sym.unique)"},
      {"crypto.sha256(x)", "(crypto.sha256 #x)"},
      {"fs.exists(p)", "(fs.exists #p)"},
      {"list.nope", "(. list nope)"},
  });
}

TEST(ExprErrors, Table) {
  expectErrors({
      {"", Error::UnexpectedEof},          {"1 +", Error::UnexpectedEof},
      {"(1", Error::UnexpectedEof},        {"(1]", Error::InvalidToken},
      {"#", Error::InvalidCharacter},      {")", Error::InvalidCharacter},
      {"1 = 2", Error::InvalidToken},      {"b \"AB\"", Error::InvalidToken},
      {"len (x)", Error::InvalidToken},    {"list.nope(x)", Error::InvalidToken},
      {".a", Error::InvalidToken},         {"a.", Error::UnexpectedEof},
      {"a. b", Error::InvalidToken},       {"a.1", Error::InvalidToken},
      {"a..b", Error::InvalidToken},       {"\"abc", Error::UnexpectedEof},
      {"'ab''", Error::UnexpectedEof},     {"f(1", Error::UnexpectedEof},
      {"f(1;", Error::InvalidToken},       {"f(a b)", Error::InvalidToken},
      {"f(,", Error::InvalidCharacter},    {"f(1,)", Error::InvalidCharacter},
      {"f(P{ \"x }", Error::InvalidToken}, {"f(P{ {x} ", Error::UnexpectedEof},
      {"!= 1", Error::InvalidCharacter},
  });
}

TEST(ExprParser, StopsBeforeWhatEndsTheExpression) {
  ExpressionParser parser("a + 1, rest");
  const auto node = parser.parseExpression(1);
  ASSERT_TRUE(node);
  EXPECT_EQ(show(*node), "(+ a 1)");
  EXPECT_EQ(parser.position(), 5u);

  ExpressionParser tight("a * b + c");
  const auto product = tight.parseExpression(10);
  ASSERT_TRUE(product);
  EXPECT_EQ(show(*product), "(* a b)");
  EXPECT_EQ(tight.text().substr(tight.position()), "+ c");
}

TEST(ExprParser, SymbolMapperRewritesIdentifiersAndMappedBareNames) {
  struct Seen {
    std::string name;
    std::size_t offset;
    bool label_address;
  };
  std::vector<Seen> seen;
  ExpressionParser parser("a + f(b) + label_addr(c) + sizeof(d) + e.f + g(h.i)",
                          [&seen](std::string_view name, std::size_t offset, bool label_address) {
                            seen.push_back({std::string(name), offset, label_address});
                            return qovrin::Result<std::string>("m_" + std::string(name));
                          });
  const auto node = parser.parseExpression(1);
  ASSERT_TRUE(node);
  EXPECT_EQ(show(*node), "(+ (+ (+ (+ (+ m_a (f #m_b)) (label_addr #m_c)) (sizeof #d)) (. m_e f)) (g (. m_h i)))");
  ASSERT_EQ(seen.size(), 5u);
  const Seen expected[] = {{"a", 0, false}, {"b", 6, false}, {"c", 22, true}, {"e", 39, false}, {"h", 47, false}};
  for (std::size_t index = 0; index < 5; ++index) {
    EXPECT_EQ(seen[index].name, expected[index].name);
    EXPECT_EQ(seen[index].offset, expected[index].offset) << expected[index].name;
    EXPECT_EQ(seen[index].label_address, expected[index].label_address) << expected[index].name;
  }
}

TEST(ExprParser, SymbolMapperFailurePassesThrough) {
  ExpressionParser parser("1 + f(x)", [](std::string_view, std::size_t, bool) -> qovrin::Result<std::string> {
    return qovrin::fail(Error::UndefinedSymbol);
  });
  const auto node = parser.parseExpression(1);
  ASSERT_FALSE(node);
  EXPECT_EQ(node.error(), Error::UndefinedSymbol);
}

std::size_t height(const Node& node) {
  std::size_t below = 0;
  if (node.left) below = std::max(below, height(*node.left));
  if (node.right) below = std::max(below, height(*node.right));
  for (const auto& argument : node.arguments)
    if (argument.expression) below = std::max(below, height(*argument.expression));
  return below + 1;
}

TEST(ExprDepth, LongChainsStopAtTheHeightLimit) {
  struct Case {
    std::string ok;    // exactly kMaxNodeDepth high
    std::string deep;  // one level more
  };
  const std::size_t n = kMaxNodeDepth - 1;
  const Case cases[] = {
      {"1" + repeated("+1", n), "1" + repeated("+1", n + 1)},
      {"a" + repeated(".b", n), "a" + repeated(".b", n + 1)},
      {"1" + repeated("-(1)", n), "1" + repeated("-(1)", n + 1)},
  };
  for (const auto& c : cases) {
    const auto node = parseOwned(c.ok);
    ASSERT_TRUE(node.has_value()) << qovrin::errorName(node.error());
    EXPECT_EQ(height(*node), kMaxNodeDepth);
    const Node copy = frontend::expr::clone(*node);
    EXPECT_EQ(show(copy), show(*node));
    const auto deep = parseOwned(c.deep);
    ASSERT_FALSE(deep.has_value());
    EXPECT_EQ(deep.error(), Error::NestingTooDeep);
  }
}

TEST(ExprDepth, HostileNestingFailsWithoutExhaustingTheStack) {
  const std::size_t n = 200000;
  const std::string cases[] = {
      repeated("(", n) + "1" + repeated(")", n), repeated("-", n) + "1", repeated("f(", n) + "1" + repeated(")", n),
      repeated("1||2&&3==4<5|6^7&8<<9+1*(", n),  repeated("f(1, ", n),   repeated("-(", n),
  };
  for (const auto& text : cases) {
    const auto node = parseOwned(text);
    ASSERT_FALSE(node.has_value());
    EXPECT_EQ(node.error(), Error::NestingTooDeep) << text.substr(0, 30);
  }
}

TEST(ExprDepth, ModerateNestingParses) {
  expectShapes({{repeated("(", 150) + "7" + repeated(")", 150), "7"},
                {repeated("f(", 3) + "1" + repeated(")", 3), "(f (f (f 1)))"}});
  const auto unary = parseOwned(repeated("-", 300) + "1");
  ASSERT_TRUE(unary);
  EXPECT_EQ(height(*unary), 301u);
}

TEST(ExprClone, CopiesEveryKind) {
  const char* text = "f(a, P{ x: 1 }, -b.c * 2.5 || \"s\" && b\"t\", true)";
  const auto node = parseOwned(text);
  ASSERT_TRUE(node);
  Node copy = frontend::expr::clone(*node);
  EXPECT_EQ(show(copy), show(*node));
  copy.arguments[0].text = "z";
  EXPECT_EQ(node->arguments[0].text, "a");
}

}  // namespace
