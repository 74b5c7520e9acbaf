#include "frontend/lexer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/identifier.hpp"

namespace {

using frontend::lexer::classifyTrimmed;
using frontend::lexer::isaTextBeforeComment;
using frontend::lexer::Lexer;
using frontend::lexer::LineKind;
using frontend::lexer::SourceLine;

std::vector<SourceLine> allLines(std::string_view text) {
  Lexer lexer(text, 7u);
  std::vector<SourceLine> lines;
  while (!lexer.atEnd()) {
    auto line = lexer.next();
    EXPECT_TRUE(line.has_value());
    if (!line) break;
    lines.push_back(*line);
  }
  return lines;
}

struct ClassCase {
  const char* text;
  LineKind kind;
};

void expectClasses(std::initializer_list<ClassCase> cases) {
  for (const auto& c : cases) EXPECT_EQ(classifyTrimmed(c.text), c.kind) << c.text;
}

TEST(LexerLines, TerminatorsEndOneLineEach) {
  const auto lines = allLines("a\r\nb\rc\n");
  ASSERT_EQ(lines.size(), 3u);
  const char* texts[] = {"a", "b", "c"};
  for (std::uint32_t index = 0; index < 3; ++index) {
    EXPECT_EQ(lines[index].text, texts[index]);
    EXPECT_EQ(lines[index].line, index + 1);
  }
  EXPECT_EQ(lines[1].location.span.start, 3u);
  EXPECT_EQ(lines[2].location.span.start, 5u);
}

TEST(LexerLines, CrBeforeCrLfEndsTwoLines) {
  const auto lines = allLines("a\r\r\nb");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].kind, LineKind::blank);
  EXPECT_EQ(lines[2].text, "b");
  EXPECT_EQ(lines[2].line, 3u);
}

TEST(LexerLines, EmptyLineIsBlankAndSpansTheRawLine) {
  const auto lines = allLines("a\n \t \nb");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].kind, LineKind::blank);
  EXPECT_EQ(lines[1].line, 2u);
  EXPECT_EQ(lines[1].location.span.start, 2u);
  EXPECT_EQ(lines[1].location.span.end, 5u);
  EXPECT_EQ(lines[2].text, "b");
  EXPECT_EQ(allLines("a\n\nb")[1].kind, LineKind::blank);
}

TEST(LexerLines, LabelIsTrimmedAndKeepsItsColumn) {
  const auto lines = allLines("  loop:  ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "loop:");
  EXPECT_EQ(lines[0].kind, LineKind::label);
  EXPECT_EQ(lines[0].column, 3u);
  EXPECT_EQ(lines[0].location.span, (frontend::SourceSpan{7u, 2, 7}));
  EXPECT_FALSE(lines[0].location.expansion.has_value());
}

TEST(LexerLines, AtEndGivesEmptyBlankWithoutAdvancing) {
  Lexer lexer("x\n");
  ASSERT_TRUE(lexer.next());
  ASSERT_TRUE(lexer.atEnd());
  for (int round = 0; round < 2; ++round) {
    const auto line = lexer.next();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->kind, LineKind::blank);
    EXPECT_EQ(line->line, 2u);
    EXPECT_EQ(line->column, 1u);
    EXPECT_EQ(line->location.span.start, 2u);
    EXPECT_EQ(line->location.span.end, 2u);
  }
}

TEST(LexerLines, CommentLines) {
  for (const char* text : {"#define X", "; note", "// note", "  ;x"}) {
    const auto lines = allLines(text);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].kind, LineKind::comment) << text;
  }
  EXPECT_EQ(allLines("/ 2")[0].kind, LineKind::isa_text);
}

TEST(LineClass, Braces) {
  expectClasses({{"{", LineKind::open_brace}, {"}", LineKind::close_brace}, {"{ }", LineKind::isa_text}});
}

TEST(LineClass, Labels) {
  expectClasses({{"a:", LineKind::label},
                 {".L1:", LineKind::label},
                 {"_x$1.y:", LineKind::label},
                 {"x: u8", LineKind::isa_text},
                 {"1:", LineKind::isa_text},
                 {"a::", LineKind::isa_text},
                 {":", LineKind::isa_text},
                 {"start: nop", LineKind::isa_text},
                 {"start: // entry", LineKind::isa_text}});
}

TEST(LineClass, LegacyDirectives) {
  expectClasses({{"times 4 db 0", LineKind::legacy_directive},
                 {"DB 1,2", LineKind::legacy_directive},
                 {"ALIGN 16", LineKind::legacy_directive},
                 {"section .data", LineKind::legacy_directive},
                 {"resq", LineKind::legacy_directive},
                 {"Org 0x100", LineKind::legacy_directive},
                 {"align(16)", LineKind::call},
                 {"db (1)", LineKind::call},
                 {"section(\".data\")", LineKind::call},
                 {"dbx 1", LineKind::isa_text},
                 {"db.x 1", LineKind::isa_text}});
}

TEST(LineClass, Meta) {
  expectClasses({{"x=1", LineKind::meta},
                 {"x = 1", LineKind::meta},
                 {"return;", LineKind::meta},
                 {"if(x) {", LineKind::meta},
                 {"late_layout {", LineKind::meta},
                 {"else foo", LineKind::meta},
                 {"@inline", LineKind::meta},
                 {"a = b == c", LineKind::meta},
                 {"Let x = 1", LineKind::isa_text},
                 {"let.x 1", LineKind::isa_text},
                 {"if2 x", LineKind::isa_text},
                 {"x == 1", LineKind::isa_text},
                 {"a += 1", LineKind::isa_text}});
}

TEST(LineClass, Calls) {
  expectClasses({{"emit.u8(1)", LineKind::call},
                 {"Foo.bar (x)", LineKind::call},
                 {"_a$.b1(", LineKind::call},
                 {"foo..bar(1)", LineKind::isa_text},
                 {".foo(1)", LineKind::isa_text},
                 {"foo.(1)", LineKind::isa_text},
                 {"a.1b(2)", LineKind::isa_text},
                 {"1abc(2)", LineKind::isa_text},
                 {"$a(1)", LineKind::isa_text},
                 {"(x)", LineKind::isa_text},
                 {"} else {", LineKind::isa_text},
                 {"} else if c {", LineKind::isa_text},
                 {"mov eax, 1", LineKind::isa_text}});
}

TEST(IsaComment, CutsOnlyOutsideQuotes) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"mov al, '/' // x", "mov al, '/'"},
      {"db \"a//b\"", "db \"a//b\""},
      {"x 'it''s // no'", "x 'it''s // no'"},
      {"x \"a\\\"//\" // c", "x \"a\\\"//\""},
      {"nop\t //", "nop"},
      {"// all", ""},
      {"a / b", "a / b"},
      {"x 'open // not cut", "x 'open // not cut"},
      {"x '\\", "x '\\"},
      {"mov eax, 1 ; // tail", "mov eax, 1 ;"},
  };
  for (const auto& c : cases) EXPECT_EQ(isaTextBeforeComment(c.text), c.expected) << c.text;
}

TEST(Identifier, Names) {
  using frontend::identifier::isName;
  EXPECT_TRUE(isName("a"));
  EXPECT_TRUE(isName(".L1"));
  EXPECT_TRUE(isName("_x$9.y"));
  EXPECT_FALSE(isName(""));
  EXPECT_FALSE(isName("9a"));
  EXPECT_FALSE(isName("$a"));
  EXPECT_FALSE(isName("a b"));
  EXPECT_FALSE(isName("a-b"));
}

TEST(Identifier, Assignments) {
  using frontend::identifier::looksLikeAssignment;
  struct Case {
    const char* text;
    bool expected;
  };
  const Case cases[] = {
      {"x=1", true},     {"  a . b\t= 2", false}, {"a.b = 2", true}, {"a = b == c", true}, {"x == 1", false},
      {"a += 1", false}, {"a != 1", false},       {"a <= 1", false}, {"a >= 1", false},    {"=1", false},
      {"  = 1", false},  {"1x = 2", false},       {"a", false},      {"a =", true},        {"a b = 1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(looksLikeAssignment(c.text), c.expected) << c.text;
}

}  // namespace
