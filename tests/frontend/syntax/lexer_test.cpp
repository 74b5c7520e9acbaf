#include "frontend/syntax/lexer.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "frontend/syntax/identifier.hpp"

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
  std::ostringstream out;
  while (!lexer.atEnd()) {
    const auto line = lexer.next();
    if (!line) return std::string("!").append(qovrin::errorName(line.error()));
    EXPECT_EQ(line->location.span.source, std::optional<std::uint32_t>(7u)) << text;
    EXPECT_FALSE(line->location.expansion.has_value()) << text;
    if (out.tellp() != 0) out << " | ";
    out << line->line << ":" << line->column << " " << kindName(line->kind) << " '" << line->text << "' ["
        << line->location.span.start << "," << line->location.span.end << ")";
  }
  return out.str();
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

// Lines of every length from 1 to 24 bytes, each ended by LF, CR and CR LF in
// turn, so that every end falls at every place of an eight-byte word; the
// lines hold bytes next to LF and CR in value, and the last has no end.
TEST(Lexer, MixedLineEndsAtEveryOffset) {
  constexpr std::string_view kEnds[] = {"\n", "\r", "\r\n"};
  constexpr std::string_view kFill("a\x0b\x0c\x8a\x8d\x0e\x00\x1d\x8c\x2a\x2d\x1a", 12);
  std::string text;
  std::vector<std::pair<std::size_t, std::size_t>> expected;  // start and length of each line
  for (std::size_t length = 1; length <= 24; ++length) {
    for (const std::string_view end : kEnds) {
      expected.emplace_back(text.size(), length);
      for (std::size_t index = 0; index < length; ++index) text += kFill[index % kFill.size()];
      text += end;
    }
  }
  expected.emplace_back(text.size(), 4);
  text += "tail";
  Lexer lexer(text);
  for (std::size_t index = 0; index < expected.size(); ++index) {
    const auto [start, length] = expected[index];
    ASSERT_FALSE(lexer.atEnd()) << "line " << index + 1;
    const auto line = lexer.next();
    ASSERT_TRUE(line) << "line " << index + 1;
    EXPECT_EQ(line->line, index + 1);
    EXPECT_EQ(line->text, std::string_view(text).substr(start, length)) << "line " << index + 1;
    EXPECT_EQ(line->location.span.start, start) << "line " << index + 1;
    EXPECT_EQ(line->location.span.end, start + length) << "line " << index + 1;
  }
  EXPECT_TRUE(lexer.atEnd());
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
    LineKind kind;
    std::initializer_list<const char*> texts;
  };
  const Case cases[] = {
      {LineKind::open_brace, {"{"}},
      {LineKind::close_brace, {"}"}},
      {LineKind::label, {"a:", ".L1:", "_x$1.y:"}},
      {LineKind::legacy_directive,
       {"times 4 db 0", "DB 1,2", "ALIGN 16", "section .data", "resq", "Org 0x100", "Times 2", "rdqq 1", "sECTION x"}},
      {LineKind::call, {"align(16)", "db (1)", "section(\".data\")", "emit.u8(1)", "Foo.bar (x)", "_a$.b1(", "x9$.y_(2)"}},
      {LineKind::meta,
       {"x=1", "return;", "if(x) {", "late_layout {", "else foo", "@inline", "fn f() {", "continue", "packed struct S {",
        "union U {", "defer {", "while x {", "break", "meta x", "for i in 0..2 {"}},
      {LineKind::isa_text, {"{ }",     "x: u8",   "1:",        "a::",     ":",     "start: nop",  "start: // entry",
                            "dbx 1",   "db.x 1",  "Let x = 1", "let.x 1", "if2 x", "foo..bar(1)", ".foo(1)",
                            "foo.(1)", "a.1b(2)", "a.$b(2)", "a.b.(2)", "1abc(2)",   "$a(1)",   "(x)",   "} else {",    "} else if c {",
                            "For x",   "lets 1",  "ret",       "sub a, b", "add x", "late_layout2 {", "continues",
                            // As long as a keyword and with its first letter, or with none.
                            "lex 1", "fox x", "mesh", "wh x", "_if x", "~if"}},
  };
  for (const Case& c : cases)
    for (const char* text : c.texts) EXPECT_EQ(kindName(classifyTrimmed(text)), kindName(c.kind)) << text;
}

// Each case with what every target but SPIR-V keeps, and what SPIR-V text,
// whose strings take \" as a quote and which has no single-quoted ones, keeps.
TEST(Lexer, CutsTheCommentOnlyOutsideQuotesAsEachTargetReadsThem) {
  struct Case {
    const char* text;
    const char* kept;
    const char* spirv_kept;
  };
  const Case cases[] = {
      {"mov al, '/' // x", "mov al, '/'", "mov al, '/'"},
      {"db \"a//b\"", "db \"a//b\"", "db \"a//b\""},
      {"x 'it''s // no'", "x 'it''s // no'", "x 'it''s"},
      // A backslash is a character like any other: strings have no escapes.
      {"db(\"a\\\", 1) // c", "db(\"a\\\", 1)", "db(\"a\\\", 1) // c"},
      {"db(\"a\\\", \"b//\") // c", "db(\"a\\\", \"b//\")", "db(\"a\\\", \"b"},
      {"mov eax, '\\' // c", "mov eax, '\\'", "mov eax, '\\'"},
      {"mov al, '\\' // it's", "mov al, '\\'", "mov al, '\\'"},
      {"db(\"a\\\", 1) // 12\" disk", "db(\"a\\\", 1)", "db(\"a\\\", 1) // 12\" disk"},
      {"x 'a\\''b' // c", "x 'a\\''b'", "x 'a\\''b'"},
      // One quote in the comment after a string that ends in a backslash.
      {"db(\"\\\", 1) // \"", "db(\"\\\", 1)", "db(\"\\\", 1) // \""},
      {"mov eax, \"\\\" // \"", "mov eax, \"\\\"", "mov eax, \"\\\" // \""},
      {"mov ax, \"a\\\" // 12\"", "mov ax, \"a\\\"", "mov ax, \"a\\\" // 12\""},
      {"x \"a\\\" // say \"hi\"", "x \"a\\\"", "x \"a\\\" // say \"hi\""},
      // SPIR-V text writes a quote inside a string as \".
      {"OpName %1 \"a\\\"b\" // c", "OpName %1 \"a\\\"b\" // c", "OpName %1 \"a\\\"b\""},
      {"%1 = OpString \"a\\\"b\" // \"q", "%1 = OpString \"a\\\"b\" // \"q", "%1 = OpString \"a\\\"b\""},
      {"x \"a\\\"//\" // c", "x \"a\\\"", "x \"a\\\"//\""},
      {"OpSourceExtension \"\\\"//\\\"\"", "OpSourceExtension \"\\\"", "OpSourceExtension \"\\\"//\\\"\""},
      {"OpName %1 \"\\\";//a\" // c", "OpName %1 \"\\\";", "OpName %1 \"\\\";//a\""},
      {"OpName %1 \"a\\\"'\" // c", "OpName %1 \"a\\\"'\" // c", "OpName %1 \"a\\\"'\""},
      {"OpName %1 \"a\\\\\" // \"", "OpName %1 \"a\\\\\"", "OpName %1 \"a\\\\\""},
      {"nop\t //", "nop", "nop"},
      {"// all", "", ""},
      {"a / b", "a / b", "a / b"},
      {"x 'open // not cut", "x 'open // not cut", "x 'open"},
      {"x '\\", "x '\\", "x '\\"},
      {"mov eax, 1 ; // tail", "mov eax, 1 ;", "mov eax, 1 ;"},
      // A quote between two digits separates digit groups and opens nothing.
      {"mov eax, 1'000 // c", "mov eax, 1'000", "mov eax, 1'000"},
      {"mov al, 5'x // c", "mov al, 5'x // c", "mov al, 5'x"},
      {"mov al, 'a'5 // c", "mov al, 'a'5", "mov al, 'a'5"},
      // Comments, slashes and quotes in every word of a longer line.
      {"vaddps ymm1, ymm2, ymm3 // sum", "vaddps ymm1, ymm2, ymm3", "vaddps ymm1, ymm2, ymm3"},
      {"mov rax, [rbx+8]//x", "mov rax, [rbx+8]", "mov rax, [rbx+8]"},
      {"mov eax, 12345678 / 2", "mov eax, 12345678 / 2", "mov eax, 12345678 / 2"},
      {"mov eax, 'abcdefgh//' + 1 // c", "mov eax, 'abcdefgh//' + 1", "mov eax, 'abcdefgh"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(frontend::lexer::isaTextBeforeComment(c.text), c.kept) << c.text;
    EXPECT_EQ(frontend::lexer::spirvTextBeforeComment(c.text), c.spirv_kept) << c.text;
  }
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

namespace {

// Where a RISC-V line's comment starts, or npos: no quote after the mark
// opens a string, and a mark inside a string is none.
TEST(Lexer, FindsTheRiscvCommentMarkOutsideStrings) {
  constexpr std::size_t none = std::string_view::npos;
  const std::pair<std::string_view, std::size_t> cases[] = {
      {"nop # don't", 4},
      {"addi a0, a0, 1 ; it's done", 15},
      {"nop # say \"hi", 4},
      {"addi a0, a0, x ; y # z", 15},
      {"db(\"a;b\") # c", 10},
      {"x 'a#b' ; c", 8},
      {"x 'it''s # no' ; c", 15},
      {"x 'open # ;", none},
      {"addi a0, a0, 1'000 # c", 19},
      {"nop", none},
  };
  for (const auto& [text, start] : cases) EXPECT_EQ(frontend::lexer::riscvCommentStart(text), start) << text;
}

}  // namespace
