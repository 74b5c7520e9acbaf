#include <gtest/gtest.h>

#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

namespace ast = frontend::ast;
using frontend::parser::Parser;
using statement_shape::expectEach;
using statement_shape::expectShapes;
using statement_shape::failure;

TEST(MetaIf, ElseParts) {
  expectShapes({
      {"if a == 1 {\n  nop\n}", "if a == 1 {isa:nop}"},
      {"if a == 1 {\n  x\n} else if a == 2 {\n  y\n} else {\n  z\n}",
       "if a == 1 {isa:x} else {if a == 2 {isa:y} else {isa:z}}"},
      {"if x {\n  a\nelse {\n  b\n}", "if x {isa:a} else {isa:b}"},
      {"if x {\n  a\nelse if y {\n  b\n}", "if x {isa:a} else {if y {isa:b}}"},
      {"if x {\n  a\n}else{\n  b\n}", "!InvalidMetaStatement@3"},
      {"if x {\n} else {\n  a\n} else {\n  b\n}", "!InvalidMetaStatement@4"},
      {"if x {\n}\nelse {\n}", "!InvalidMetaStatement@3"},
      {"if x {\n} else {\n}\nnop", "if x {}; isa:nop"},
      {"if (a) {\n}", "if (a) {}"},
  });
}

TEST(MetaIf, Failures) {
  expectShapes({
      {"if  {\n}", "!InvalidMetaIf@1"},
      {"if x {\n  nop", "!UnexpectedEndOfMetaIf@1"},
      {"if x {\n} else {\n  nop", "!UnexpectedEndOfMetaIf@2"},
      {"if x {\n} else if y {\n", "!UnexpectedEndOfMetaIf@2"},
      {"if x {\n} else if  {\n}", "!InvalidMetaIf@2"},
  });
}

TEST(MetaIf, ElseIfChainKeepsLocationOfItsLine) {
  Parser parser("if a {\n} else if b {\n}\n");
  auto statements = parser.parseSource();
  ASSERT_TRUE(statements);
  const auto& outer = std::get<ast::MetaIfStatement>((*statements)[0].payload);
  ASSERT_EQ(outer.else_statements.size(), 1u);
  EXPECT_EQ(std::get<ast::MetaIfStatement>(outer.else_statements[0].payload).location.span.start, 7u);
  EXPECT_EQ(outer.location.span.start, 0u);
}

TEST(MetaWhile, Forms) {
  expectShapes({
      {"while i < 4 {\n  i = i + 1\n}", "while i < 4 {i = (i + 1)}"},
      {"while x {\n  // } not a close\n  } // end\n}", "while x {isa:}}"},
      {"while  {\n}", "!InvalidMetaWhile@1"},
      {"while x {\n", "!UnexpectedEndOfMetaWhile@1"},
  });
}

TEST(MetaFor, Forms) {
  expectShapes({
      {"for i in range(0, 4) {\n  nop\n}", "for i in range(0, 4) {isa:nop}"},
      {"for i in range (a, b + 1) {\n}", "for i in range(a, (b + 1)) {}"},
      {"for b in bytes {\n}", "for b in bytes {}"},
      {"for b in rangeX {\n}", "for b in rangeX {}"},
      {"for in in list.of(1, 2) {\n}", "for in in list.of(1, 2) {}"},
      {"for i in x {\n", "!UnexpectedEndOfMetaFor@1"},
  });
  expectEach("!InvalidMetaFor@1", {"for i in range(0,10,2) {\n}", "for i in range(4) {\n}", "for i in range(a) {\n}",
                                   "for i in range(f(1,2), 3) {\n}", "for i in range(, 3) {\n}", "for 1i in x {\n}",
                                   "for i in {\n}", "for i of x {\n}", "for i in x + {\n}"});
}

TEST(DeferAndLateLayout, Forms) {
  expectShapes({
      {"defer {\n  emit.u8(1)\n}", "defer {call emit.u8(1)}"},
      {"late_layout {\n  {\n  }\n}", "late_layout {{}}"},
      {"defer {\n", "!UnexpectedEndOfMetaDefer@1"},
      {"late_layout {\n  nop", "!UnexpectedEndOfLateLayout@1"},
  });
}

TEST(DeferAndLateLayout, HeadersCalledDirectlyMustBeExact) {
  Parser parser("defer  {\n}\n");
  const auto line = parser.lexer().next();
  ASSERT_TRUE(line);
  ast::StatementList list;
  EXPECT_EQ(failure(parser.appendMetaDeferStatement(list, *line)), "InvalidMetaDefer");
  EXPECT_EQ(failure(parser.appendLateLayoutStatement(list, *line)), "InvalidLateLayout");
  ASSERT_TRUE(parser.errorLocation());
  EXPECT_EQ(parser.errorLocation()->span.start, 0u);
  EXPECT_TRUE(list.empty());
}

}  // namespace
