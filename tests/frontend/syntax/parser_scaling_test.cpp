// Hostile sources must be refused or parsed in time linear in their size. The
// limits are generous: a sanitized build takes about a second for them all on
// an idle machine, a tenth of a limit at most, so a busy one passes too; an
// input that takes quadratic time overshoots them many times over.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "frontend/support/failing_allocation.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

using statement_shape::describe;
using statement_shape::repeated;

constexpr auto kLimit = std::chrono::seconds(30);

std::string paramList(std::size_t count, std::string_view prefix) {
  std::string list;
  for (std::size_t index = 0; index < count; ++index) {
    if (index != 0) list += ", ";
    list += prefix;
    list += std::to_string(index);
  }
  return list;
}

TEST(Scaling, HostileLinesFinishInLinearTime) {
  constexpr std::size_t kLevels = 1'000'000;  // six bytes a level: a 6 MB line
  constexpr std::size_t kParams = 100'000;
  struct Case {
    std::string source;
    std::string outcome;  // a prefix of what describe gives
  };
  const Case cases[] = {
      {"let x = " + repeated("P{a: ", kLevels) + "1" + repeated("}", kLevels) + "\n", "!NestingTooDeep@1"},
      {"fn f(" + paramList(kParams, "p") + ") {\n}\n", "fn f(p0, p1, "},
      {"macro m(" + paramList(kParams, "p") + ", p7) {\n}\n", "!InvalidMacro@1"},
      {"emit.u8(" + repeated("1, ", kParams) + "1)\n", "call emit.u8(1, 1, "},
  };
  for (const Case& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const std::string outcome = describe(c.source);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(outcome.starts_with(c.outcome)) << outcome.substr(0, 80);
    EXPECT_LT(elapsed, kLimit) << c.source.substr(0, 40);
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
