#include <gtest/gtest.h>

#include "frontend/parser.hpp"
#include "statement_shape.hpp"

namespace {

using statement_shape::expectShapes;

TEST(Dispatch, LineKinds) {
  expectShapes({
      {"", ""},
      {"\n  \n; note\n# note\n// note\n", ""},
      {"start:\n  .L1:", "label:start; label:.L1"},
      {"start: nop\nx: u8\n9:", "isa:start: nop; isa:x: u8; isa:9:"},
      {"mov eax, 1 // set", "isa:mov eax, 1"},
      {"nop\n  ALIGN 16", "!LegacyDirectiveSyntax@2"},
      {"{\nnop\n}", "{isa:nop}"},
      {"{\n}\n{\n{\n}\n}", "{}; {{}}"},
      {"nop\n}", "!InvalidMetaStatement@2"},
      {"{\nnop", "!UnexpectedEndOfMetaBlock@1"},
      {"{\n  {\n  nop\n}", "!UnexpectedEndOfMetaBlock@1"},
  });
}

TEST(Dispatch, BreakAndContinue) {
  expectShapes({
      {"break", "break"},
      {"break;", "break"},
      {"  continue ;", "continue"},
      {"break 2", "!InvalidMetaStatement@1"},
      {"continue x", "!InvalidMetaStatement@1"},
  });
}

TEST(Dispatch, MetaLinesNoParserTakes) {
  expectShapes({
      {"meta x", "!InvalidMetaStatement@1"},
      {"nop\nelse {", "!InvalidMetaStatement@2"},
      {"@x", "!InvalidMetaStatement@1"},
      {"while x", "!InvalidMetaStatement@1"},
      {"if x", "!InvalidMetaStatement@1"},
      {"fn f()", "!InvalidMetaStatement@1"},
      {"defer{\n}", "!InvalidMetaStatement@1"},
      {"late_layout  {\n}", "!InvalidMetaStatement@1"},
      {"let\tx = 1", "!InvalidMetaStatement@1"},
      {"return;", "!InvalidMetaStatement@1"},
      {"packed x", "!InvalidMetaStatement@1"},
  });
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
