// Hostile sources must be refused or parsed with work linear in their size.
// The work is told by the heap bytes asked for, which do not depend on the
// machine's load: four times the source may ask at most five times the
// bytes, where a list copied on every step, or a text cut again at every
// level, asks for sixteen. Their time is measured by bench/parse_bench.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "frontend/support/failing_allocation.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

using statement_shape::describe;
using statement_shape::repeated;

std::string paramList(std::size_t count, std::string_view prefix) {
  std::string list;
  for (std::size_t index = 0; index < count; ++index) {
    if (index != 0) list += ", ";
    list += prefix;
    list += std::to_string(index);
  }
  return list;
}

TEST(Scaling, HostileLinesTakeLinearWork) {
  constexpr std::size_t kLevels = 1'000'000;  // six bytes a level: a 6 MB line
  constexpr std::size_t kParams = 100'000;
  struct Case {
    std::function<std::string(std::size_t)> source;  // of a size, a quarter of the full one or the full one
    std::size_t size;
    std::string outcome;  // a prefix of what describe gives
  };
  const Case cases[] = {
      {[](std::size_t n) { return "let x = " + repeated("P{a: ", n) + "1" + repeated("}", n) + "\n"; }, kLevels,
       "!NestingTooDeep@1"},
      {[](std::size_t n) { return "fn f(" + paramList(n, "p") + ") {\n}\n"; }, kParams, "fn f(p0, p1, "},
      {[](std::size_t n) { return "macro m(" + paramList(n, "p") + ", p7) {\n}\n"; }, kParams, "!InvalidMacro@1"},
      {[](std::size_t n) { return "emit.u8(" + repeated("1, ", n) + "1)\n"; }, kParams, "call emit.u8(1, 1, "},
  };
  for (const Case& c : cases) {
    std::size_t traffic[2] = {};
    for (const std::size_t size : {c.size / 4, c.size}) {
      const std::string source = c.source(size);
      const frontend::testing::HeapTraffic asked;
      const std::string outcome = describe(source);
      traffic[size == c.size] = asked.bytes();
      EXPECT_TRUE(outcome.starts_with(c.outcome)) << outcome.substr(0, 80);
    }
    EXPECT_LE(traffic[1], 5 * traffic[0]) << c.outcome << ": " << traffic[0] << " then " << traffic[1];
  }
}

// A wide line keeps a few words per argument or field. Heavier records (a
// boxed node per argument, a text per literal) or a second copy of a whole
// list overshoot these bounds several times over.
TEST(Scaling, WideLinesKeepLeanRecords) {
  constexpr std::size_t kItems = 100'000;
  struct Case {
    std::string source;
    std::size_t bytes_per_item;
  };
  const Case cases[] = {
      {"db(" + repeated("7, ", kItems) + "7)\n", 40},
      {"let x = list.of(" + repeated("7, ", kItems) + "7)\n", 32},
      {"let x = P{" + repeated("a: 7, ", kItems) + "}\n", 48},
  };
  for (const Case& c : cases) {
    const frontend::testing::HeapPeak peak;
    frontend::parser::Parser parser(c.source, 0u);
    const auto statements = parser.parseSource();
    ASSERT_TRUE(statements) << c.source.substr(0, 20);
    EXPECT_LE(peak.bytes() / kItems, c.bytes_per_item) << c.source.substr(0, 20);
  }
}

}  // namespace
