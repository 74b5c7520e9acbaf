#include <gtest/gtest.h>

#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

using frontend::parser::Parser;
using frontend::parser::scanStatementBalance;
using frontend::parser::StatementBalance;
using statement_shape::expectShapes;
using statement_shape::failure;

TEST(StatementBalance, ScansBracketsQuotesAndStopsAtComments) {
  struct Case {
    const char* text;
    std::uint32_t parentheses, braces;
    char quote;
    std::size_t code_length;
  };
  const Case cases[] = {
      {"f(a, {b", 1, 1, 0, 7},    {"f(a) // don't (", 0, 0, 0, 5}, {"f('it''s // no', (", 2, 0, 0, 18},
      {"f(\"open", 1, 0, '"', 7}, {"f(\"a\"\"b\")", 0, 0, 0, 9},   {"x [ ]", 0, 0, 0, 5},
      {"a / b", 0, 0, 0, 5},      {"f(1'000) // x", 0, 0, 0, 9}, {"f(1'0'0, '1'", 1, 0, 0, 12},
      {"f(x'0", 1, 0, '\'', 5},
  };
  for (const Case& c : cases) {
    StatementBalance balance;
    const auto length = scanStatementBalance(balance, c.text);
    ASSERT_TRUE(length) << c.text;
    EXPECT_EQ(*length, c.code_length) << c.text;
    EXPECT_EQ(balance.parentheses, c.parentheses) << c.text;
    EXPECT_EQ(balance.braces, c.braces) << c.text;
    EXPECT_EQ(balance.quote, c.quote) << c.text;
  }
}

TEST(StatementBalance, StrayClosersFailAndQuotesCarryOverPieces) {
  for (const char* text : {"f(1))", "}", "a ) (", "P{ x } }"}) {
    StatementBalance balance;
    EXPECT_EQ(failure(scanStatementBalance(balance, text)), "InvalidExpression") << text;
  }
  StatementBalance balance;
  ASSERT_TRUE(scanStatementBalance(balance, "f(\"a ) b"));
  EXPECT_EQ(balance.quote, '"');
  ASSERT_TRUE(scanStatementBalance(balance, "c\")"));
  EXPECT_FALSE(balance.open());
}

TEST(Joining, CallAndMetaStatements) {
  expectShapes({
      {"db(1,\n2)", "call db(1, 2)"},
      {"emit.u8(1))", "!InvalidExpression@1"},
      {"emit.u8(1) // don't (\nemit.u8(2)", "call emit.u8(1); call emit.u8(2)"},
      {"db(1, // first (\n2) // last '\nnop", "call db(1, 2); isa:nop"},
      {"emit.struct(P{\n  x: 1,\n  y: 2\n})", "call emit.struct(P{x: 1, y: 2})"},
      {"db(1,\n\n; note\n2)", "call db(1, 2)"},
      {"db(1,", "!UnexpectedEndOfStatement@1"},
      {"dw(1'000)\nnop\nlet y = 2", "call dw(1000); isa:nop; let y = 2"},
      // Lone CRs and CR LF pairs end lines as LF does.
      {"nop\rdb(1,\r\r2)\r\nlet y = 2", "isa:nop; call db(1, 2); let y = 2"},
      {"nop\r\n\rdb(1,\r2))\rnop", "!InvalidExpression@3"},
      {"nop\rwhile x {\r", "!UnexpectedEndOfMetaWhile@2"},
      {"db(1,\n2))", "!InvalidExpression@1"},
      // An open quote spans lines, but comment lines are still skipped.
      {"emit.bytes(\"ab\n; not text\ncd\")", "call emit.bytes(\"ab\ncd\")"},
      {"emit.bytes(\"a // b\n c\")", "call emit.bytes(\"a // b\nc\")"},
      {"let x = (1 +\n\n// note\n2)", "let x = (1 + 2)"},
      {"x = f(1,\n2)", "x = f(1, 2)"},
      {"return (a +\nb)", "return (a + b)"},
      {"const p = P{\n a: 1,\n}", "const p = P{a: 1}"},
      // Block headers never join: the first line has no trailing "{".
      {"if (a &&\nb) {\n}", "!InvalidMetaStatement@1"},
  });
}

TEST(Joining, ContinuedTextKeepsPiecesWithoutCommentsAndCompleteTextIsNotCopied) {
  Parser parser("let x = (1 +\n\n// note\n   2) // end\nnext");
  const auto first = parser.lexer().next();
  ASSERT_TRUE(first);
  ASSERT_TRUE(frontend::parser::statementCanContinue(*first));
  const auto joined = parser.collectContinuedStatement(*first);
  ASSERT_TRUE(joined);
  ASSERT_TRUE(joined->has_value());
  EXPECT_EQ(**joined, "let x = (1 +\n2)");
  const auto after = parser.lexer().next();
  ASSERT_TRUE(after);
  EXPECT_EQ(after->text, "next");

  Parser complete("f(1) // x (");
  const auto line = complete.lexer().next();
  ASSERT_TRUE(line);
  const auto copy = complete.collectContinuedStatement(*line);
  ASSERT_TRUE(copy);
  EXPECT_FALSE(copy->has_value());
}

TEST(Joining, WhichStatementsAndHeadersMayContinue) {
  struct Case {
    const char* text;
    bool statement;  // may continue as a statement
    bool header;     // may continue as a function or macro header
  };
  const Case cases[] = {
      {"emit.u8(1,", true, false},    {"let x = (", true, false},   {"const x = (", true, false},
      {"x = (", true, false},         {"return (", true, false},    {"return\t(", true, false},
      {"returned x (", false, false}, {"if (a {", false, false},    {"mov eax, (", false, false},
      {"while (x) {", false, false},  {"fn f(a,", false, true},     {"fn f(a) {", false, false},
      {"macro\tm(a,", false, true},   {"macro m(\"x", false, true}, {"fnx(a,", true, false},
      {"let f(a,", true, false},
  };
  for (const Case& c : cases) {
    Parser parser(c.text);
    const auto line = parser.lexer().next();
    ASSERT_TRUE(line);
    EXPECT_EQ(frontend::parser::statementCanContinue(*line), c.statement) << c.text;
    EXPECT_EQ(frontend::parser::metaFunctionSignatureNeedsContinuation(*line), qovrin::Result<bool>(c.header))
        << c.text;
  }
}

TEST(Joining, FunctionAndMacroHeaders) {
  expectShapes({
      {"fn f(a,\nb) {\n}", "fn f(a, b) {}"},
      {"fn f(a) {\n}", "fn f(a) {}"},
      {"fn f(a, // first\n  b: u8) -> u8 {\nreturn a\n}", "fn f(a, b: u8) -> u8 {return a}"},
      {"fn f(a", "!UnexpectedEndOfStatement@1"},
      {"nop\nmacro m(a,\n\n  ...b) {\nnop\n}", "isa:nop; macro m(a, ...b) {isa:nop}"},
      {"macro m(a))", "!InvalidExpression@1"},
  });
}

}  // namespace
