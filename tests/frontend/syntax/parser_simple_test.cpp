#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

#include "frontend/syntax/parser.hpp"
#include "frontend/support/statement_shape.hpp"

namespace {

namespace ast = frontend::ast;
using frontend::SourceLocation;
using frontend::SourceSpan;
using frontend::parser::parseApiCall;
using frontend::parser::Parser;
using frontend::parser::parseStructLiteralArgument;
using statement_shape::describe;
using statement_shape::expectEach;
using statement_shape::expectShapes;
using statement_shape::failure;

// Literal arguments spelled plainly skip the expression parser: on the
// whole-source road through the one-pass call reader, on its general path,
// and where a call text is read by itself (deferred and late-layout calls).
// Every literal must come out as the tree, or the failure, that parser gives;
// at the edges of the plain spellings, which that parser shares, the tree is
// also written out here.
TEST(ApiCall, LiteralArgumentsReadAsTheExpressionParserReadsThem) {
  const auto expectEveryRoad = [](std::string_view literal, const std::string& want) {
    SCOPED_TRACE(literal);
    const std::string line = "dq(" + std::string(literal) + ")";
    // A quote left open carries a source line on to the next.
    const std::string whole = literal == "'''" ? "!UnexpectedEndOfStatement@1" : want;
    EXPECT_EQ(describe(line), whole) << "one-pass reader";
    EXPECT_EQ(statement_shape::describeCall(line), whole) << "general path";
    auto call = parseApiCall(line, {});
    std::string alone = "!" + failure(call) + "@1";
    if (call) {
      ast::StatementList statements;
      ASSERT_TRUE(ast::append(statements, std::move(*call)));
      alone = statement_shape::show(statements);
    }
    EXPECT_EQ(alone, want) << "call text alone";
  };
  const char* const literals[] = {
      "0",     "7",     "42",    "010",   "012",   "-012",  "00",      "09",    "0x",    "0x1F",      "0XfF",
      "0x0",   "0x1g",  "1'000", "1_000", "-1",    "-0x80", "--1",     "-",     "+1",    "- 1",       "1e3",
      "1.5",   "0b101", "101b",  "0h1f",  "12abc", "'a'",   "''",      "'it''s'", "'''", "'a' + 'b'", "'a'.x",
      "1 + 2", "-0",    "0xffffffffffffffff", "0x10000000000000000", "0X1000000000000000F",
      "0x00000000000000001", "-0x10000000000000000", "18446744073709551615", "18446744073709551616",
      "9999999999999999999", "99999999999999999999", "-18446744073709551615", "-99999999999999999999",
      "018446744073709551615", "0000000000000000000001",
  };
  for (const std::string_view literal : literals) {
    const auto expected = frontend::expr::parseOwned(literal);
    std::string want = "!InvalidExpression@1";
    if (expected) want = "call dq(" + statement_shape::show(*expected) + ")";
    if (!expected && expected.error() == qovrin::Error::NestingTooDeep) want = "!NestingTooDeep@1";
    expectEveryRoad(literal, want);
  }
  const std::pair<std::string_view, std::string_view> edges[] = {
      {"012", "10"},
      {"-012", "-10"},
      {"09", "9"},
      {"0XfF", "255"},
      {"9999999999999999999", "9999999999999999999"},
      {"18446744073709551615", "18446744073709551615"},
      {"18446744073709551616", ""},
      {"99999999999999999999", ""},
      {"0xffffffffffffffff", "18446744073709551615"},
      {"0x10000000000000000", ""},
      {"0x00000000000000001", "1"},
  };
  for (const auto& [literal, value] : edges)
    expectEveryRoad(literal, value.empty() ? "!InvalidExpression@1" : "call dq(" + std::string(value) + ")");
}

TEST(ApiCall, Forms) {
  expectShapes({
      {"db(1, \"a,b\", P{ x: 1, y: 2 });", "call db(1, \"a,b\", P{x: 1, y: 2})"},
      {"f(\"say \"\"hi\"\"\")", "call f(\"say \"hi\"\")"},
      {"f(  )", "call f()"},
      {"f(\"\")", "call f(\"\")"},
      {"f(g(1, 2), x + 1)", "call f(g(1, 2), (x + 1))"},
      {"f(P{ a: Q{ b: 1 }, c: \"x}\" })", "call f(P{a: Q{b: 1}, c: 'x}'})"},
      {"f(P{})", "call f(P{})"},
      {"f(P{ a: 1, })", "call f(P{a: 1})"},
      {"f(1);  ;", "call f(1)"},
      {"emit.u8('a')", "call emit.u8('a')"},
      {"emit.u8('a,b')", "call emit.u8('a,b')"},
      {"Foo.bar (x)", "call Foo.bar(x)"},
      {"f(a.P {\n  x: 1,\n  x: Q{ y: \"}\" },\n})", "call f(a.P{x: 1, x: Q{y: '}'}})"},
      // A blank before the parenthesis makes the line instruction text.
      {"lea (x), y", "isa:lea (x), y"},
      {"push (1) + 2 // c", "isa:push (1) + 2"},
      {"f (1,,2)", "isa:f (1,,2)"},
      {"f(1) x", "!InvalidApiCall@1"},
      {"nop\nf(}", "!InvalidExpression@2"},
  });
  expectEach("!InvalidApiArgument@1", {"f(1,,2)", "f(1,)", "f(,1)", "f(\"a\" + \"b\")"});
  expectEach("!InvalidExpression@1", {"f(1 +)", "f(P{ x 1 })"});
}

// A single-quoted text is one argument whatever punctuation it holds, on
// every road a call line takes, and so is a field value of a struct literal.
TEST(ApiCall, SingleQuotedArgumentsHoldEveryPunctuationCharacter) {
  for (char c = '!'; c <= '~'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(c))) continue;
    const std::string literal = c == '\'' ? "''''" : std::string("'") + c + "'";
    const std::string shown = std::string("'") + c + "'";
    const std::pair<std::string, std::string> cases[] = {
        {"db(" + literal + ", 1)", "call db(" + shown + ", 1)"},
        {"db(1, " + literal + ")", "call db(1, " + shown + ")"},
        {"print(" + literal + ")", "call print(" + shown + ")"},
        {"f(P{ a: " + literal + ", b: 1 })", "call f(P{a: " + shown + ", b: 1})"},
    };
    for (const auto& [line, want] : cases) {
      EXPECT_EQ(describe(line), want);
      EXPECT_EQ(describe(line + " // it's"), want);
      EXPECT_EQ(statement_shape::describeCall(line), want);
      auto call = parseApiCall(line, {});
      ASSERT_TRUE(call) << line;
      ast::StatementList statements;
      ASSERT_TRUE(ast::append(statements, std::move(*call)));
      EXPECT_EQ(statement_shape::show(statements), want);
    }
  }
}

TEST(ApiCall, KeepsCallTextNameAndLocation) {
  const SourceLocation location{SourceSpan{3u, 10, 30}, 7u};
  auto call = parseApiCall("region.begin(\"x\", 4) // open", location);
  ASSERT_TRUE(call);
  EXPECT_EQ(call->call_text, "region.begin(\"x\", 4)");
  EXPECT_EQ(call->name, "region.begin");
  EXPECT_EQ(call->location, location);
}

TEST(ApiCall, MalformedCallTextsAndStructLiterals) {
  for (const char* text : {"f", "f)", ")f(", "(1)", "f(1) ,", "  (1)"}) {
    EXPECT_EQ(failure(parseApiCall(text, {})), "InvalidApiCall") << text;
  }
  for (const char* text : {"x + 1", "P{ x: 1 ", "1{ x: 1 }", "P{ x: }", "P{ : 1 }", "P{ x: 1 } }", "P{ x: (1 }",
                           "P{ \"a: 1 }", "P{ x: 1 +  }", "P{ x: f(Q{ y: 1) } }", "P{ x: Q{ y: 1 }, z: (2 }"}) {
    EXPECT_EQ(failure(parseStructLiteralArgument(text)), "InvalidApiArgument") << text;
  }
}

TEST(ValueDeclaration, Forms) {
  expectShapes({
      {"let x: u8 = 5;", "let x:u8 = 5"},
      {"const x: u8 = 5", "const x:u8 = 5"},
      {"let x = P{ a: 1 }", "let x = P{a: 1}"},
      {"const p = a.b == c", "const p = (a.b == c)"},
      {"let x : my.T = 1", "let x:my.T = 1"},
      {"let x = 1 +", "!InvalidExpression@1"},
      {"let x = P{ x: 1 +  }", "!InvalidExpression@1"},
  });
  expectEach("!InvalidValueDeclaration@1",
             {"let x: [4]u8 = 0", "let x", "let = 1", "let x =", "let x: = 1", "let 1x = 1"});
}

TEST(Assignment, Forms) {
  expectShapes({
      {"x = 1", "x = 1"},
      {"x=1;", "x = 1"},
      {"a.b = P{ c: 2 }", "a.b = P{c: 2}"},
      {"x = a == b", "x = (a == b)"},
      {"x = ", "!InvalidValueDeclaration@1"},
      {"x = 1 +", "!InvalidExpression@1"},
  });
}

TEST(Return, Forms) {
  expectShapes({
      {"return 1", "return 1"},
      {"return\ta + 1;", "return (a + 1)"},
  });
  expectEach("!InvalidExpression@1", {"return", "return ;", "return 1 2"});
}

TEST(Statement, OwnsItsTextsBeyondTheSource) {
  std::string source = "start:\nlet x = \"abc\"\nf(\"d\", P{ e: 1 })\n  mov eax, 1   // set\n";
  Parser parser(source);
  auto statements = parser.parseSource();
  ASSERT_TRUE(statements);
  source.assign(source.size(), '#');
  EXPECT_EQ(statement_shape::show(*statements), "label:start; let x = 'abc'; call f(\"d\", P{e: 1}); isa:mov eax, 1");
  EXPECT_EQ(std::get<ast::ApiCallStatement>((*statements)[2].payload).call_text, "f(\"d\", P{ e: 1 })");
  // The instruction's location ends before the comment.
  const SourceSpan isa = std::get<ast::IsaTextStatement>((*statements)[3].payload).location.span;
  EXPECT_EQ(isa, (SourceSpan{std::nullopt, 41, 51}));
}

// Which target reads an instruction line is known only when it is lowered:
// the statement keeps what each reading of its comment cut leaves, and where.
TEST(Statement, KeepsTheCommentCutOfEachTargetsReading) {
  struct Case {
    const char* text;
    const char* kept;
    const char* spirv_kept;
    // Whether SPIR-V cuts the line again when it is lowered: only where its
    // reading of the strings may differ.
    bool apart;
  };
  const Case cases[] = {
      {"mov ax, \"a\\\" // 12\"", "mov ax, \"a\\\"", "mov ax, \"a\\\" // 12\"", true},
      {"%1 = OpString \"a\\\"b\" // \"q", "%1 = OpString \"a\\\"b\" // \"q", "%1 = OpString \"a\\\"b\"", true},
      {"x 'open // c", "x 'open // c", "x 'open", true},
      {"mov eax, 1 // c", "mov eax, 1", "mov eax, 1", false},
      {"OpName %1 \"a\" // it's", "OpName %1 \"a\"", "OpName %1 \"a\"", false},
      {"OpName %1 \"a // b\" // c", "OpName %1 \"a // b\"", "OpName %1 \"a // b\"", false},
      {"x 'a//b'", "x 'a//b'", "x 'a", true},
      {"mov eax, 'abcd'", "mov eax, 'abcd'", "mov eax, 'abcd'", true},
      {"mov eax, 1'000 // c", "mov eax, 1'000", "mov eax, 1'000", false},
  };
  for (const Case& c : cases) {
    const std::string source = std::string("  ") + c.text + "\n";
    Parser parser(source);
    const auto statements = parser.parseSource();
    ASSERT_TRUE(statements) << c.text;
    const auto& line = std::get<ast::IsaTextStatement>((*statements)[0].payload);
    EXPECT_EQ(line.textFor(false), c.kept) << c.text;
    EXPECT_EQ(line.textFor(true), c.spirv_kept) << c.text;
    EXPECT_EQ(line.spirv_apart, c.apart) << c.text;
    for (const bool spirv : {false, true}) {
      const SourceSpan span = line.locationFor(spirv).span;
      EXPECT_EQ(source.substr(span.start, span.end - span.start), line.textFor(spirv)) << c.text;
    }
  }
}

// A line is marked plain when lowering has nothing to look for in it: no
// name before a parenthesis outside a string and no string left open.
TEST(Statement, MarksInstructionTextWithoutCallsOrOpenQuotesPlain) {
  const std::pair<const char*, bool> cases[] = {
      {"mov r10d, [rax+rbx*4+100]", true}, {"mov al, 'x'", true},      {"mov eax, here() + 1", false},
      {"op \"a\"", true},                  {"nop // c", true},         {"mov eax, 12345678 / 2", true},
      {"vaddps ymm1, ymm2, ymm3", true},   {"lea eax, [x]  ", true},   {"mov al, 'x", false},
      {"op \"a(\" // (", true},            {"mov al, ')'", true},      {"mov eax, 'ab' + (1)", true},
      {"mov eax, 1'000", true},            {"op \"a\" \"b", false},    {"add ecx, (12)", true},
      {"mov eax, x\t(1)", false},          {"mov eax, 2 * (x)", true}, {"mov eax, [x$ (1)]", false},
      {"ld a0, 8(sp)", true},              {"mov eax, $x(1)", false},  {"mov eax, $8(1)", true},
      {"mov eax, x8 (1)", false},          {"mov eax, 1x(2)", true},   {"mov eax, $(1)", true},
  };
  for (const auto& [text, plain] : cases) {
    Parser parser(text);
    const auto statements = parser.parseSource();
    ASSERT_TRUE(statements) << text;
    ASSERT_EQ(statements->size(), 1u) << text;
    EXPECT_EQ(std::get<ast::IsaTextStatement>((*statements)[0].payload).plain, plain) << text;
  }
}

}  // namespace
