#include "frontend/lexer.hpp"

#include <gtest/gtest.h>

#include <string>

#include "frontend/identifier.hpp"

namespace {

using frontend::lexer::classifyTrimmed;
using frontend::lexer::Lexer;
using frontend::lexer::LineKind;

const char* kindName(LineKind kind) {
  constexpr const char* kNames[] = {"blank", "comment", "label", "isa", "call", "legacy", "meta", "{", "}"};
  return kNames[static_cast<int>(kind)];
}

// Every line of text as "LINE:COLUMN kind 'text' [start,end)", joined by " | ".
std::string lines(std::string_view text) {
  Lexer lexer(text, 7u);
  std::string out;
  while (!lexer.atEnd()) {
    const auto line = lexer.next();
    if (!line) return "!" + std::string(qovrin::errorName(line.error()));
    EXPECT_EQ(line->location.span.source, std::optional<std::uint32_t>(7u)) << text;
    EXPECT_FALSE(line->location.expansion.has_value()) << text;
    if (!out.empty()) out += " | ";
    out += std::to_string(line->line) + ":" + std::to_string(line->column) + " " + kindName(line->kind) + " '" +
           std::string(line->text) + "' [" + std::to_string(line->location.span.start) + "," +
           std::to_string(line->location.span.end) + ")";
  }
  return out;
}

TEST(Lexer, LinesTheirPlacesAndKinds) {
  struct Case {
    const char* text;
    const char* lines;
  };
  const Case cases[] = {
      {"a\r\nb\rc\n", "1:1 isa 'a' [0,1) | 2:1 isa 'b' [3,4) | 3:1 isa 'c' [5,6)"},
      {"a\r\r\nb", "1:1 isa 'a' [0,1) | 2:1 blank '' [2,2) | 3:1 isa 'b' [4,5)"},
      {"a\n \t \nb", "1:1 isa 'a' [0,1) | 2:4 blank '' [2,5) | 3:1 isa 'b' [6,7)"},
      {"a\n\nb", "1:1 isa 'a' [0,1) | 2:1 blank '' [2,2) | 3:1 isa 'b' [3,4)"},
      {"  loop:  ", "1:3 label 'loop:' [2,7)"},
      {"#define X\n; note\n// note\n  ;x\n/ 2",
       "1:1 comment '#define X' [0,9) | 2:1 comment '; note' [10,16) | 3:1 comment '// note' [17,24) | "
       "4:3 comment ';x' [27,29) | 5:1 isa '/ 2' [30,33)"},
  };
  for (const Case& c : cases) EXPECT_EQ(lines(c.text), c.lines) << c.text;
}

TEST(Lexer, AtEndGivesEmptyBlankWithoutAdvancing) {
  Lexer lexer("x\n");
  ASSERT_TRUE(lexer.next());
  ASSERT_TRUE(lexer.atEnd());
  for (int round = 0; round < 2; ++round) {
    const auto line = lexer.next();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->kind, LineKind::blank);
    EXPECT_EQ(line->line, 2u);
    EXPECT_EQ(line->column, 1u);
    EXPECT_EQ(line->location.span, (frontend::SourceSpan{std::nullopt, 2, 2}));
  }
}

TEST(Lexer, ClassifiesTrimmedText) {
  struct Case {
    const char* text;
    LineKind kind;
  };
  const Case cases[] = {
      {"{", LineKind::open_brace},
      {"}", LineKind::close_brace},
      {"{ }", LineKind::isa_text},
      {"a:", LineKind::label},
      {".L1:", LineKind::label},
      {"_x$1.y:", LineKind::label},
      {"x: u8", LineKind::isa_text},
      {"1:", LineKind::isa_text},
      {"a::", LineKind::isa_text},
      {":", LineKind::isa_text},
      {"start: nop", LineKind::isa_text},
      {"start: // entry", LineKind::isa_text},
      {"times 4 db 0", LineKind::legacy_directive},
      {"DB 1,2", LineKind::legacy_directive},
      {"ALIGN 16", LineKind::legacy_directive},
      {"section .data", LineKind::legacy_directive},
      {"resq", LineKind::legacy_directive},
      {"Org 0x100", LineKind::legacy_directive},
      {"align(16)", LineKind::call},
      {"db (1)", LineKind::call},
      {"section(\".data\")", LineKind::call},
      {"dbx 1", LineKind::isa_text},
      {"db.x 1", LineKind::isa_text},
      {"x=1", LineKind::meta},
      {"return;", LineKind::meta},
      {"if(x) {", LineKind::meta},
      {"late_layout {", LineKind::meta},
      {"else foo", LineKind::meta},
      {"@inline", LineKind::meta},
      {"Let x = 1", LineKind::isa_text},
      {"let.x 1", LineKind::isa_text},
      {"if2 x", LineKind::isa_text},
      {"emit.u8(1)", LineKind::call},
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
  };
  for (const Case& c : cases) EXPECT_EQ(kindName(classifyTrimmed(c.text)), kindName(c.kind)) << c.text;
}

TEST(Lexer, CutsTheCommentOnlyOutsideQuotes) {
  struct Case {
    const char* text;
    const char* kept;
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
  for (const Case& c : cases) EXPECT_EQ(frontend::lexer::isaTextBeforeComment(c.text), c.kept) << c.text;
}

TEST(Identifier, NamesAndAssignments) {
  using frontend::identifier::isName;
  using frontend::identifier::looksLikeAssignment;
  for (const char* name : {"a", ".L1", "_x$9.y"}) EXPECT_TRUE(isName(name)) << name;
  for (const char* name : {"", "9a", "$a", "a b", "a-b"}) EXPECT_FALSE(isName(name)) << name;
  for (const char* text : {"x=1", "a.b = 2", "a = b == c", "a ="}) EXPECT_TRUE(looksLikeAssignment(text)) << text;
  for (const char* text :
       {"  a . b\t= 2", "x == 1", "a += 1", "a != 1", "a <= 1", "a >= 1", "=1", "  = 1", "1x = 2", "a", "a b = 1"})
    EXPECT_FALSE(looksLikeAssignment(text)) << text;
}

}  // namespace
