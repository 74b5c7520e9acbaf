#include <gtest/gtest.h>

#include <string>

#include "frontend/parser.hpp"
#include "statement_shape.hpp"

namespace {

using frontend::parser::kMaxNesting;
using qovrin::Error;

// levels block headers, one per line, each closed in turn; the headers cycle
// through every kind of block so that all of them count.
std::string nestedSource(std::size_t levels) {
  const char* const headers[] = {"if x {",      "while x {", "for i in xs {", "fn f() {",
                                 "macro m() {", "{",         "defer {",       "late_layout {"};
  std::string source;
  for (std::size_t i = 0; i < levels; ++i) {
    source += headers[i % std::size(headers)];
    source += '\n';
  }
  source += "nop\n";
  for (std::size_t i = 0; i < levels; ++i) source += "}\n";
  return source;
}

TEST(Nesting, DeepestAllowedLevelParses) {
  const auto outcome = statement_shape::parse(nestedSource(kMaxNesting));
  EXPECT_FALSE(outcome.error);
}

TEST(Nesting, OneLevelTooManyFailsAtTheLineThatOpensIt) {
  for (const std::size_t levels : {kMaxNesting + 1, 5 * kMaxNesting}) {
    const auto outcome = statement_shape::parse(nestedSource(levels));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(*outcome.error, Error::NestingTooDeep);
    EXPECT_EQ(outcome.error_line, kMaxNesting + 1);
  }
}

TEST(Nesting, StructDeclarationCountsAsALevel) {
  std::string source;
  for (std::size_t i = 0; i < kMaxNesting; ++i) source += "{\n";
  source += "struct P {\n";
  const auto outcome = statement_shape::parse(source);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(*outcome.error, Error::NestingTooDeep);
  EXPECT_EQ(outcome.error_line, kMaxNesting + 1);
}

TEST(Nesting, LongElseIfChainIsBounded) {
  std::string source = "if a {\n";
  for (std::size_t i = 0; i < 3 * kMaxNesting; ++i) source += "} else if b {\n";
  source += "}\n";
  const auto outcome = statement_shape::parse(source);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(*outcome.error, Error::NestingTooDeep);
  EXPECT_EQ(outcome.error_line, kMaxNesting + 1);

  std::string allowed = "if a {\n";
  for (std::size_t i = 1; i < kMaxNesting; ++i) allowed += "} else if b {\n";
  allowed += "}\n";
  EXPECT_FALSE(statement_shape::parse(allowed).error);
}

std::string nestedLiteral(std::size_t levels) {
  std::string literal;
  for (std::size_t i = 0; i < levels; ++i) literal += "P{a: ";
  literal += "1";
  literal.append(levels, '}');
  return literal;
}

TEST(Nesting, DeepStructLiteralsAreBounded) {
  EXPECT_FALSE(statement_shape::parse("emit.struct(" + nestedLiteral(kMaxNesting) + ")\n").error);

  const auto outcome = statement_shape::parse("nop\nemit.struct(" + nestedLiteral(kMaxNesting + 1) + ")\n");
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(*outcome.error, Error::NestingTooDeep);
  EXPECT_EQ(outcome.error_line, 2u);

  const auto declared = statement_shape::parse("let x = " + nestedLiteral(3 * kMaxNesting) + "\n");
  ASSERT_TRUE(declared.error);
  EXPECT_EQ(*declared.error, Error::NestingTooDeep);
}

TEST(Nesting, UnclosedDeepSourceFailsAtTheInnermostBlock) {
  std::string source;
  for (std::size_t i = 0; i < 50; ++i) source += "while x {\n";
  const auto outcome = statement_shape::parse(source);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(*outcome.error, Error::UnexpectedEndOfMetaWhile);
  EXPECT_EQ(outcome.error_line, 50u);
}

}  // namespace
