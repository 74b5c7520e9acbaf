#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

namespace ast = frontend::ast;
using statement_shape::describe;
using statement_shape::describeCall;
using statement_shape::expectShapes;

// Call lines read in one pass must give what the general path gives: the
// same arguments, and the same first failure where a line has several.
TEST(PlainCall, ArgumentsAndFirstFailureMatchTheGeneralPath) {
  const statement_shape::ShapeCase lines[] = {
      {"db(1, 0x1F,-3 , 255)", "call db(1, 31, -3, 255)"},
      {"db(0xa0, 0XfF, 0x09, 90)", "call db(160, 255, 9, 90)"},
      {"db( )", "call db()"},
      {"db()", "call db()"},
      {"emit.u8(f(1, 2), (3), 8 / 2)", "call emit.u8(f(1, 2), 3, (8 / 2))"},
      {"db(1) ; ; // c (\"'", "call db(1)"},
      {"db(1))", "!InvalidExpression@1"},
      {"db(,1))", "!InvalidExpression@1"},
      {"db(1) x", "!InvalidApiCall@1"},
      {"db(1) / 2", "!InvalidApiCall@1"},
      {"db(1 +, , 2)", "!InvalidExpression@1"},
      {"db(, 1 +)", "!InvalidApiArgument@1"},
      {"db(1,)", "!InvalidApiArgument@1"},
      {"db(1, 2 3)", "!InvalidExpression@1"},
  };
  for (const auto& [line, expected] : lines) {
    EXPECT_EQ(describe(line), expected) << line;
    EXPECT_EQ(describeCall(line), expected) << line;
  }
  // Lines that go on, or never end, are the general path's alone.
  expectShapes({
      {"db(1, // c\n2)", "call db(1, 2)"},
      {"db(1,\n(2))", "call db(1, 2)"},
      {"nop\ndb(1", "!UnexpectedEndOfStatement@2"},
  });
}

// A random plain argument, spelt near the edges the one-pass reader draws:
// leading zeros, 19 to 21 decimal digits, 16 to 18 hex digits.
std::string randomArgument(std::mt19937_64& random) {
  const auto below = [&](std::size_t bound) { return static_cast<std::size_t>(random() % bound); };
  const auto digits = [&](std::string_view alphabet, std::size_t count) {
    std::string text;
    for (std::size_t index = 0; index < count; ++index) text += alphabet[below(alphabet.size())];
    return text;
  };
  constexpr std::array<std::size_t, 9> kDecimalLengths = {1, 2, 3, 5, 18, 19, 20, 20, 21};
  constexpr std::array<std::size_t, 8> kHexLengths = {0, 1, 2, 8, 16, 16, 17, 18};
  constexpr std::array<std::string_view, 16> kOthers = {"(7)",  "1 + 2", "x",   "g(1, 2)", "- 3", "--4",
                                                        "+5",   "1_000", "1e3", "0b101",   "101b", "12ab",
                                                        "0x1g", "7h",    "",    "0x"};
  const auto decimal = [&] { return digits("0123456789", kDecimalLengths[below(kDecimalLengths.size())]); };
  const auto hex = [&] {
    return std::string(below(2) == 0 ? "0x" : "0X") + digits("0123456789abcdefABCDEF", kHexLengths[below(kHexLengths.size())]);
  };
  switch (below(10)) {
    case 0:
    case 1:
    case 2:
      return decimal();
    case 3:
    case 4:
      return hex();
    case 5:
      return "-" + decimal();
    case 6:
      return "-" + hex();
    case 7:
      return " " + decimal() + "\t";
    default:
      return std::string(kOthers[below(kOthers.size())]);
  }
}

// What the expression parser makes of the arguments one by one, in
// describe's form: the first empty or unreadable argument fails the line.
std::string readArgumentByArgument(std::string_view name, const std::vector<std::string>& arguments,
                                   std::string_view tail) {
  const std::size_t after_semicolons = tail.find_first_not_of(" ;");
  if (after_semicolons != std::string_view::npos && !tail.substr(after_semicolons).starts_with("//"))
    return "!InvalidApiCall@1";
  if (arguments.size() == 1 && arguments[0].find_first_not_of(" \t") == std::string::npos)
    return "call " + std::string(name) + "()";
  std::string shown;
  for (const std::string& argument : arguments) {
    if (argument.find_first_not_of(" \t") == std::string::npos) return "!InvalidApiArgument@1";
    const auto tree = frontend::expr::parseOwned(argument);
    if (!tree) return "!InvalidExpression@1";
    shown += (shown.empty() ? "" : ", ") + statement_shape::show(*tree);
  }
  return "call " + std::string(name) + "(" + shown + ")";
}

// Seeded random call lines: the one-pass reader, the general path and the
// expression parser reading each argument by itself agree on every line.
TEST(PlainCall, RandomLinesReadAsTheGeneralPathAndTheExpressionParserReadThem) {
  std::mt19937_64 random(20261207);
  constexpr std::array<std::string_view, 4> kNames = {"db", "dq", "emit.u8", "f"};
  constexpr std::array<std::string_view, 6> kTails = {"", ";", " ; ", " // note", "; // x", " x"};
  for (int round = 0; round < 100; ++round) {
    const std::string_view name = kNames[random() % kNames.size()];
    const std::string_view tail = kTails[random() % kTails.size()];
    std::vector<std::string> arguments(1 + random() % 6);
    for (std::string& argument : arguments) argument = randomArgument(random);
    std::string line = std::string(name) + "(";
    for (std::size_t index = 0; index < arguments.size(); ++index) line += (index > 0 ? "," : "") + arguments[index];
    line += ")";
    line += tail;
    const std::string expected = readArgumentByArgument(name, arguments, tail);
    EXPECT_EQ(describe(line), expected) << line;
    EXPECT_EQ(describeCall(line), expected) << line;
  }
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
