#include "frontend/syntax/expr.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/error_of.hpp"
#include "frontend/support/statement_shape.hpp"

using qovrin::testing::errorOf;

namespace {

using frontend::expr::BuiltinArgument;
using frontend::expr::ExpressionParser;
using frontend::expr::kMaxNodeDepth;
using frontend::expr::Node;
using frontend::expr::parseOwned;
using qovrin::Error;
using statement_shape::repeated;
using statement_shape::show;

// The tree in infix form, or "!ErrorName" on failure.
std::string parsed(std::string_view text) {
  const auto node = parseOwned(text);
  if (!node) return std::string("!").append(qovrin::errorName(node.error()));
  return show(*node);
}

struct Case {
  std::string text;
  std::string tree;
};

void expectTrees(std::initializer_list<Case> cases) {
  for (const auto& c : cases) EXPECT_EQ(parsed(c.text), c.tree) << c.text;
}

// Every one of texts gives the same tree or error.
void expectEach(std::string_view tree, std::initializer_list<std::string> texts) {
  for (const auto& text : texts) EXPECT_EQ(parsed(text), tree) << text;
}

TEST(Expr, Numbers) {
  expectEach("31", {"0x1F", "0X1f", "0h1f", "1fh", "1FH"});
  expectEach("5", {"0b101", "101b"});
  expectEach("15", {"017", "0o17", "17o"});
  expectEach("18446744073709551615", {"18446744073709551615", "0xffffffffffffffff"});
  expectEach("!InvalidNumber", {"18446744073709551616", "0x10000000000000000", "0x", "0h", "0b2", "19o", "12a", "1.2.3",
                                "1e400", "1" + std::string(400, '0') + "e-50", "0x1.5"});
  expectEach("0e+00", {"1e-400", "0.0e99999999999"});
  expectTrees({
      {"0", "0"},
      {"09", "9"},
      {"0abh", "171"},
      {"1'000'000", "1000000"},
      {"1_000_000", "1000000"},
      {"0x1e5", "485"},
      {"0xFF_FF", "65535"},
      {"1.5e3", "1.5e+03"},
      {"1500.0", "1.5e+03"},
      {"2.5E+2", "2.5e+02"},
      {"1_000.2_5", "1.00025e+03"},
      {"4e-1", "4e-01"},
      {"1e308", "1e+308"},
      {"1.x", "1.x"},
      {"1e+5+1", "(1e+05 + 1)"},
      {"0x1e+5", "(30 + 5)"},
      {"2-1", "(2 - 1)"},
  });
  EXPECT_EQ(frontend::expr::normalizeNumberToken("0X1_F'Ab"), "0x1fab");
  EXPECT_EQ(frontend::expr::normalizeNumberToken("'_"), "");
}

TEST(Expr, PrecedenceAndAssociativity) {
  expectTrees({
      {"1 - 2 - 3", "((1 - 2) - 3)"},
      {"2 * 3 % 4", "((2 * 3) % 4)"},
      {"a && b || c", "((a && b) || c)"},
      {"a || b && c", "(a || (b && c))"},
      {"1 << 2 + 3", "(1 << (2 + 3))"},
      {"1 + 2 << 3", "((1 + 2) << 3)"},
      {"a | b ^ c & d", "(a | (b ^ (c & d)))"},
      {"a & b << c", "(a & (b << c))"},
      {"a == b < c", "(a == (b < c))"},
      {"a < b | c", "(a < (b | c))"},
      {"a != b == c", "((a != b) == c)"},
      {"x>>1>=2", "((x >> 1) >= 2)"},
      {"a<=b", "(a <= b)"},
      {"a + b * c - d / e", "((a + (b * c)) - (d / e))"},
      {"(1 + 2) * 3", "((1 + 2) * 3)"},
      {"a * -b", "(a * -b)"},
      {"- -1", "--1"},
      {"!~x", "!~x"},
      {"-2 * 3", "(-2 * 3)"},
      {"+a", "+a"},
  });
}

TEST(Expr, PrimariesAndFields) {
  expectTrees({
      {"true", "true"},
      {"false", "false"},
      {"b\"AB\"", "b'AB'"},
      {"\"a\"\"b\"", "'a\"b'"},
      {"'it''s'", "'it's'"},
      {"'a\\n'", "'a\\n'"},
      {"\"x'y\"", "'x'y'"},
      {"(a).b.c", "a.b.c"},
      {"a .b", "a.b"},
      {"f(1).x", "f(1).x"},
      {"list.items", "list.items"},
      {"x$1_y", "x$1_y"},
      {"  \r\n a \t", "a"},
  });
}

TEST(Expr, BuiltinArgumentKinds) {
  expectTrees({
      {"f( )", "f()"},
      {"len(x)", "len(#x)"},
      {"f( a , b )", "f(#a, #b)"},
      {"f(true)", "f(true)"},
      {"f(a.b)", "f(a.b)"},
      {"f(a + 1, g(2))", "f((a + 1), g(2))"},
      {"offset_of(Header, a.b)", "offset_of(#Header, #a.b)"},
      {"other(Header, a.b)", "other(#Header, a.b)"},
      {"f(Point{ x: 1, y: \"}\" })", "f([Point{ x: 1, y: \"}\" }])"},
      {"f(P { a: Q{ b: '{' } }, 2)", "f([P { a: Q{ b: '{' } }], 2)"},
      {"f(P{ a: 1'0 }, '}')", "f([P{ a: 1'0 }], '}')"},
      {"list.push(xs, 1)", "list.push(#xs, 1)"},
      {"load.u8(0)", "load.u8(0)"},
      {"sym.unique()", "sym.unique()"},
      {"crypto.sha256(x)", "crypto.sha256(#x)"},
      {"fs.exists(p)", "fs.exists(#p)"},
      {"list.nope", "list.nope"},
  });
}

TEST(Expr, Errors) {
  expectEach("!UnexpectedEof", {"", "1 +", "(1", "a.", "\"abc", "'ab''", "f(1", "f(P{ {x} "});
  expectEach("!InvalidToken", {"(1]", "1 = 2", "b \"AB\"", "b'AB'", "len (x)", "list.nope(x)", ".a", "a. b", "a.1", "a..b",
                               "f(1;", "f(a b)", "f(P{ \"x }"});
  expectEach("!InvalidCharacter", {"#", ")", "f(,", "f(1,)", "!= 1"});
}

TEST(Expr, ParserStopsBeforeWhatEndsTheExpression) {
  ExpressionParser parser("a + 1, rest");
  const auto node = parser.parseExpression(1);
  ASSERT_TRUE(node);
  EXPECT_EQ(show(*node), "(a + 1)");
  EXPECT_EQ(parser.position(), 5u);

  ExpressionParser tight("a * b + c");
  const auto product = tight.parseExpression(10);
  ASSERT_TRUE(product);
  EXPECT_EQ(show(*product), "(a * b)");
  EXPECT_EQ(tight.text().substr(tight.position()), "+ c");
}

TEST(Expr, SymbolMapperRewritesIdentifiersAndMappedBareNames) {
  std::string seen;
  ExpressionParser parser("a + f(b) + label_addr(c) + sizeof(d) + e.f + g(h.i)",
                          [&seen](std::string_view name, std::size_t offset, bool label_address) {
                            seen += std::string(name) + "@" + std::to_string(offset) + (label_address ? "L " : " ");
                            return qovrin::Result<std::string>("m_" + std::string(name));
                          });
  const auto node = parser.parseExpression(1);
  ASSERT_TRUE(node);
  EXPECT_EQ(show(*node), "(((((m_a + f(#m_b)) + label_addr(#m_c)) + sizeof(#d)) + m_e.f) + g(m_h.i))");
  EXPECT_EQ(seen, "a@0 b@6 c@22L e@39 h@47 ");

  ExpressionParser failing("1 + f(x)", [](std::string_view, std::size_t, bool) -> qovrin::Result<std::string> {
    return qovrin::fail(Error::UndefinedSymbol);
  });
  const auto failed = failing.parseExpression(1);
  ASSERT_FALSE(failed);
  EXPECT_EQ(errorOf(failed), Error::UndefinedSymbol);
}

// How deep a walk recurses into the tree, going down left chains in a loop.
std::size_t height(const Node& node) {
  if (node.kind() == frontend::expr::NodeKind::binary) {
    const frontend::expr::LeftChain chain(node);
    std::size_t below = height(chain.first());
    for (std::size_t index = 0; index < chain.size(); ++index)
      below = std::max(below, height(chain.link(index).right()));
    return below + 1;
  }
  std::size_t below = 0;
  if (node.kind() == frontend::expr::NodeKind::unary || node.kind() == frontend::expr::NodeKind::field_access)
    below = height(node.left());
  for (const auto& argument : node.arguments())
    if (argument.kind() == BuiltinArgument::Kind::expression) below = std::max(below, height(argument.node()));
  return below + 1;
}

TEST(Expr, NestingStopsAtTheLimitAsWritten) {
  // Each piece nests one level deeper: exactly the limit parses, one more
  // fails. A chain of operators is one level above its operands.
  const std::size_t n = kMaxNodeDepth - 1;
  for (const auto& [first, piece] : {std::pair{"a", ".b"}, {"(1 + 2 * 3 - 4)", ".b"}, {"f(1 + 1)", ".b"}}) {
    const std::size_t operands = std::string_view(first).starts_with('a') ? 0 : 2;
    const auto node = parseOwned(first + repeated(piece, n - operands));
    ASSERT_TRUE(node.has_value()) << first << ": " << qovrin::errorName(node.error());
    EXPECT_EQ(height(*node), kMaxNodeDepth) << first;
    EXPECT_EQ(show(frontend::expr::clone(*node)), show(*node)) << first;
    EXPECT_EQ(parsed(first + repeated(piece, n - operands + 1)), "!NestingTooDeep") << first;
  }
}

TEST(Expr, ChainsOfOperatorsAreOneLevelHoweverLong) {
  // Parsed, copied and released on the runner's own stack, which recursion
  // per term would overrun.
  for (const std::string piece : {" + 1", " - (1)", " * 2 + 1", " << 1 | 2 == 3"}) {
    const auto node = parseOwned("1" + repeated(piece, 100'000));
    ASSERT_TRUE(node.has_value()) << piece << ": " << qovrin::errorName(node.error());
    EXPECT_LE(height(*node), 4u) << piece;
    const Node copy = frontend::expr::clone(*node);
    EXPECT_EQ(height(copy), height(*node)) << piece;
    EXPECT_EQ(frontend::expr::LeftChain(copy).size(), frontend::expr::LeftChain(*node).size()) << piece;
  }
  EXPECT_EQ(parsed("1 - 2 + 3 * 4 - 5"), parsed("((1 - 2) + (3 * 4)) - 5"));
}

TEST(Expr, HostileNestingFailsWithoutExhaustingTheStack) {
  const std::size_t n = 200000;
  const std::string cases[] = {
      repeated("(", n) + "1" + repeated(")", n), repeated("-", n) + "1", repeated("f(", n) + "1" + repeated(")", n),
      repeated("1||2&&3==4<5|6^7&8<<9+1*(", n),  repeated("f(1, ", n),   repeated("-(", n),
  };
  for (const auto& text : cases) EXPECT_EQ(parsed(text), "!NestingTooDeep") << text.substr(0, 30);
  EXPECT_EQ(parsed(repeated("(", 150) + "7" + repeated(")", 150)), "7");
  const auto unary = parseOwned(repeated("-", 300) + "1");
  ASSERT_TRUE(unary);
  EXPECT_EQ(height(*unary), 301u);
}

TEST(Expr, CloneCopiesEveryKind) {
  auto node = parseOwned("f(a, P{ x: 1 }, -b.c * 2.5 || \"s\" && b\"t\", true)");
  ASSERT_TRUE(node);
  const std::string original = show(*node);
  Node copy = frontend::expr::clone(*node);
  EXPECT_EQ(show(copy), original);
  EXPECT_NE(copy.arguments()[0].text().data(), node->arguments()[0].text().data());
  // The copy owns everything it shows once the original is gone.
  *node = Node();
  EXPECT_EQ(show(copy), original);
}

}  // namespace
