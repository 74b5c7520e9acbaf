#include <gtest/gtest.h>

#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

namespace ast = frontend::ast;
using frontend::SourceLocation;
using frontend::SourceSpan;
using frontend::parser::metaParamNameExists;
using frontend::parser::parseMetaFunctionParams;
using frontend::parser::Parser;
using statement_shape::expectEach;
using statement_shape::expectShapes;

TEST(MetaFunction, Headers) {
  expectShapes({
      {"fn add(a: u64, b) -> u64 {\n  return a + b\n}", "fn add(a: u64, b) -> u64 {return (a + b)}"},
      {"fn f( \t ) {\n}", "fn f() {}"},
      {"fn f(let a, b: my.T) {\n}", "fn f(let a, b: my.T) {}"},
      {"fn f(a)->u8 {\n}", "fn f(a) -> u8 {}"},
      {"fn f() {\n  nop\n", "!UnexpectedEndOfMetaFunction@1"},
  });
  expectEach("!InvalidMetaFunction@1",
             {"fn f(a, a) {\n}", "fn f(let a) -> u8 {\n}", "fn f(a,) {\n}", "fn f(a: [2]u8) {\n}", "fn (a) {\n}",
              "fn f(a) u8 {\n}", "fn f(a) - {\n}", "fn f(a) -> {\n}", "fn f a {\n}"});
}

TEST(MetaFunction, ParametersRecordTheHeaderLocation) {
  const SourceLocation header{SourceSpan{1u, 5, 25}, std::nullopt};
  const auto params = parseMetaFunctionParams(" let a: u8,\n b ", header);
  ASSERT_TRUE(params);
  ASSERT_EQ(params->size(), 2u);
  EXPECT_EQ((*params)[1].location, header);
  EXPECT_TRUE(metaParamNameExists(*params, "b"));
  EXPECT_FALSE(metaParamNameExists(*params, "B"));
}

TEST(Macro, Headers) {
  expectShapes({
      {"macro mov2(dst, ...rest) {\n  mov dst, rest\n}", "macro mov2(dst, ...rest) {isa:mov dst, rest}"},
      {"macro my.copy() {\n}", "macro my.copy() {}"},
      {"macro\tpush2 ( a , b ) {\n}", "macro push2(a, b) {}"},
      {"macro m(a) {\n", "!UnexpectedEndOfMetaFunction@1"},
  });
  expectEach("!InvalidMacro@1", {"macro m(...a, b) {\n}", "macro m(true) {\n}", "macro db(x) {\n}", "macro m(a.b) {\n}",
                                 "macro if(a) {\n}", "macro m..n(a) {\n}", "macro m(a, a) {\n}", "macro m(a) x {\n}",
                                 "macro m(a,) {\n}", "macro m(a)"});
}

TEST(StructDeclaration, Forms) {
  expectShapes({
      {"struct P {\n  x: u8 = 3,\n  y: u16\n}", "struct P {x: u8 = 3, y: u16}"},
      {"packed struct P {\n  // note\n\n  a: u8,\n}", "packed struct P {a: u8}"},
      {"union U {\n  a: u8\n  b: my.T,\n}", "union U {a: u8, b: my.T}"},
      {"packed union U {\n}", "packed union U {}"},
      {"struct P {\n  let: u8\n}", "struct P {let: u8}"},
  });
  expectEach("!InvalidStructDeclaration@1", {"struct  {\n}", "struct 1P {\n}", "struct P\n"});
}

TEST(StructDeclaration, MemberFailuresAreLocatedAtTheMember) {
  expectShapes({
      {"union U {\n  a: u8,\n  x: u8 = 3,\n}", "!UnionFieldDefaultNotAllowed@3"},
      {"struct P {\n  a: u8\n  db 1\n}", "!LegacyDirectiveSyntax@3"},
      {"struct P {\n  a: u8\n  start:\n}", "!InvalidStructField@3"},
      {"struct P {\n  a: u8\n", "!UnexpectedEndOfStruct@1"},
  });
  expectEach("!InvalidStructField@2",
             {"struct P {\n  a u8\n}", "struct P {\n  a: [4]u8\n}", "struct P {\n  a: u8 =\n}", "struct P {\n  : u8\n}",
              "struct P {\n  a:\n}", "struct P {\n  f(1)\n}", "struct P {\n  {\n}"});
}

TEST(StructDeclaration, FieldsKeepTheirLines) {
  Parser parser("struct P {\n  a: u8\n  b: u8 = 1 + 2\n}\n");
  auto statements = parser.parseSource();
  ASSERT_TRUE(statements);
  const auto& declaration = std::get<ast::StructDeclarationStatement>((*statements)[0].payload);
  ASSERT_EQ(declaration.fields.size(), 2u);
  EXPECT_EQ(declaration.fields[0].location.span.start, 13u);
  EXPECT_EQ(declaration.fields[1].location.span.start, 21u);
}

}  // namespace
