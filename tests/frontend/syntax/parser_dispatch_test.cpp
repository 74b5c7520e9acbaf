#include <gtest/gtest.h>

#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

using statement_shape::expectEach;
using statement_shape::expectShapes;

TEST(Dispatch, LineKinds) {
  expectShapes({
      {"", ""},
      {"\n  \n; note\n# note\n// note\n", ""},
      {"start:\n  .L1:", "label:start; label:.L1"},
      {"start: nop\nx: u8\n9:", "isa:start: nop; isa:x: u8; isa:9:"},
      {"break\nbreak;\n  continue ;", "break; break; continue"},
      {"nop\n  ALIGN 16", "!LegacyDirectiveSyntax@2"},
      {"{\nnop\n}", "{isa:nop}"},
      {"{\n}\n{\n{\n}\n}", "{}; {{}}"},
      {"nop\n}", "!InvalidMetaStatement@2"},
      {"{\nnop", "!UnexpectedEndOfMetaBlock@1"},
      {"{\n  {\n  nop\n}", "!UnexpectedEndOfMetaBlock@1"},
  });
}

TEST(Dispatch, MetaLinesNoParserTakes) {
  EXPECT_EQ(statement_shape::describe("nop\nelse {"), "!InvalidMetaStatement@2");
  expectEach("!InvalidMetaStatement@1", {"break 2", "continue x", "meta x", "@x", "while x", "if x", "fn f()",
                                         "defer{\n}", "late_layout  {\n}", "let\tx = 1", "return;", "packed x"});
}

TEST(Dispatch, FailureIsPlacedAtTheInnermostStatement) {
  expectShapes({
      {"nop\nlet x = 1 +", "!InvalidExpression@2"},
      {"while x {\n  nop\n  let = 3\n}", "!InvalidValueDeclaration@3"},
      {"if a {\n} else {\n  f(1,,2)\n}", "!InvalidApiArgument@3"},
      {"macro m(a) {\n  nop\n  f(1) x\n}", "!InvalidApiCall@3"},
      {"macro m(a) {\n  nop\n", "!UnexpectedEndOfMetaFunction@1"},
      {"fn f() {\n  while y {\n    nop\n", "!UnexpectedEndOfMetaWhile@2"},
  });
}

}  // namespace
