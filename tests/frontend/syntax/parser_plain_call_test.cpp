#include <gtest/gtest.h>

#include <string_view>

#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

namespace ast = frontend::ast;
using statement_shape::expectShapes;

// Call lines read in one pass must give what the general path gives: the
// same arguments, and the same first failure where a line has several.
TEST(PlainCall, ArgumentsAndFirstFailureMatchTheGeneralPath) {
  expectShapes({
      {"db(1, 0x1F,-3 , 255)", "call db(1, 31, -3, 255)"},
      {"db(0xa0, 0XfF, 0x09, 90)", "call db(160, 255, 9, 90)"},
      {"db( )\ndb()", "call db(); call db()"},
      {"emit.u8(f(1, 2), (3), 8 / 2)", "call emit.u8(f(1, 2), 3, (8 / 2))"},
      {"db(1) ; ; // c (\"'\ndb(2)", "call db(1); call db(2)"},
      {"db(1, // c\n2)", "call db(1, 2)"},
      {"db(1,\n(2))", "call db(1, 2)"},
      {"db(1))", "!InvalidExpression@1"},
      {"db(,1))", "!InvalidExpression@1"},
      {"db(1) x", "!InvalidApiCall@1"},
      {"db(1) / 2", "!InvalidApiCall@1"},
      {"db(1 +, , 2)", "!InvalidExpression@1"},
      {"db(, 1 +)", "!InvalidApiArgument@1"},
      {"db(1,)", "!InvalidApiArgument@1"},
      {"db(1, 2 3)", "!InvalidExpression@1"},
      {"nop\ndb(1", "!UnexpectedEndOfStatement@2"},
  });
}

TEST(PlainCall, KeepsTheCallTextUpToTheComment) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"db(1)", "db(1)"},
      {"db(1, 2)  // c", "db(1, 2)"},
      {"db(1) ;\t; // c", "db(1) ;\t;"},
      {"db(1);", "db(1);"},
  };
  for (const auto& [line, call_text] : cases) {
    frontend::parser::Parser parser(line);
    const auto statements = parser.parseSource();
    ASSERT_TRUE(statements) << line;
    ASSERT_EQ(statements->size(), 1u) << line;
    const auto& call = std::get<ast::ApiCallStatement>(statements->front().payload);
    EXPECT_EQ(call.call_text, call_text) << line;
    EXPECT_EQ(call.name, "db") << line;
  }
}

}  // namespace
