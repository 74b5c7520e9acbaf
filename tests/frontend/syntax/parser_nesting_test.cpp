#include <gtest/gtest.h>

#include <string>

#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

using frontend::parser::kMaxNesting;
using statement_shape::repeated;

// levels block headers, one per line, each closed in turn; the headers cycle
// through every kind of block so that all of them count.
std::string nestedBlocks(std::size_t levels) {
  const char* const headers[] = {"if x {\n",      "while x {\n", "for i in xs {\n", "fn f() {\n",
                                 "macro m() {\n", "{\n",         "defer {\n",       "late_layout {\n"};
  std::string source;
  for (std::size_t i = 0; i < levels; ++i) source += headers[i % std::size(headers)];
  return source + "nop\n" + repeated("}\n", levels);
}

std::string nestedLiteral(std::size_t levels) { return repeated("P{a: ", levels) + "1" + repeated("}", levels); }

std::string elseIfChain(std::size_t links) { return "if a {\n" + repeated("} else if b {\n", links) + "}\n"; }

TEST(Nesting, DeepestAllowedLevelParsesAndOneMoreFailsWhereItOpens) {
  const std::string too_deep = "!NestingTooDeep@" + std::to_string(kMaxNesting + 1);
  struct Case {
    std::string source;
    std::string failure;  // empty when the source parses
  };
  const Case cases[] = {
      {nestedBlocks(kMaxNesting), ""},
      {nestedBlocks(kMaxNesting + 1), too_deep},
      {nestedBlocks(5 * kMaxNesting), too_deep},
      {repeated("{\n", kMaxNesting) + "struct P {\n", too_deep},
      {elseIfChain(kMaxNesting - 1), ""},
      {elseIfChain(3 * kMaxNesting), too_deep},
      {"emit.struct(" + nestedLiteral(kMaxNesting) + ")\n", ""},
      {"nop\nemit.struct(" + nestedLiteral(kMaxNesting + 1) + ")\n", "!NestingTooDeep@2"},
      {"let x = " + nestedLiteral(3 * kMaxNesting) + "\n", "!NestingTooDeep@1"},
      {repeated("while x {\n", 50), "!UnexpectedEndOfMetaWhile@50"},
  };
  for (const Case& c : cases) {
    const std::string outcome = statement_shape::describe(c.source);
    if (c.failure.empty()) {
      EXPECT_FALSE(outcome.starts_with('!')) << outcome << "\n" << c.source.substr(0, 40);
    } else {
      EXPECT_EQ(outcome, c.failure) << c.source.substr(0, 40);
    }
  }
}

}  // namespace
