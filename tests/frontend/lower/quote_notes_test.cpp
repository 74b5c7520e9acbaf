#include "frontend/lower/notes/quote_notes.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace frontend::lower::quote_notes {
namespace {

// Where a note points, as an offset into the source; none for no note.
std::optional<std::uint32_t> noteOffset(const std::optional<diagnostic::Note>& note) {
  if (!note) return std::nullopt;
  return note->location->span.start;
}

SourceLocation at(std::uint32_t source, std::size_t offset) {
  const auto start = static_cast<std::uint32_t>(offset);
  return SourceLocation{SourceSpan{source, start, start}, std::nullopt};
}

TEST(QuoteNotesTest, FindsTheStringLeftOpenAboveAFailure) {
  struct Case {
    const char* text;
    const char* failing;                 // the failing line's text
    std::optional<const char*> opening;  // where the note must point
  };
  const Case cases[] = {
      {"OpSource GLSL 450 \"#version 450\nvoid main() {\n}\n", "}", "\"#version"},
      {"%1 = OpString \"a\\\"\nb\n}\n", "}", "\"a\\\""},
      {"%1 = OpString \"a\\\"b\"\n}\n", "}", std::nullopt},
      {"OpName %1 \"x\"\nvoid f() {\n}\n", "}", std::nullopt},
      {"OpSource GLSL 450 \"x\rbody {\r}\r", "}", "\"x"},
      {"OpSource GLSL 450 \"x\r\nbody {\r\n}\r\n", "}", "\"x"},
      {"}\n", "}", std::nullopt},
  };
  for (const Case& c : cases) {
    module::Module module(target::Target::spirv());
    const std::string text = c.text;
    const auto source = module.addSource("s.qov", text);
    ASSERT_TRUE(source);
    const auto note = openStringAbove(module, at(*source, text.rfind(c.failing)));
    const auto expected = c.opening ? std::optional<std::uint32_t>(text.find(*c.opening)) : std::nullopt;
    EXPECT_EQ(noteOffset(note), expected) << c.text;
  }
}

TEST(QuoteNotesTest, FindsTheQuoteALineLeavesOpenAsItsTargetReadsQuotes) {
  struct Case {
    target::Target target;
    const char* line;
    std::optional<std::size_t> opening;
  };
  const Case cases[] = {
      {target::Target::spirv(), "%1 = OpString \"a\\\"", 14},
      {target::Target::spirv(), "%1 = OpString \"a\\\"b\"", std::nullopt},
      {target::Target::x86(64), "mov al, 'a'", std::nullopt},
      {target::Target::x86(64), "mov eax, 'ab", 9},
      {target::Target::riscv(64), "addi a0, a0, 1'000", std::nullopt},
  };
  for (const Case& c : cases) {
    module::Module module(c.target);
    const std::string text = std::string("nop\n") + c.line + "\n";
    const auto source = module.addSource("s.qov", text);
    ASSERT_TRUE(source);
    const auto note = openQuoteOnLine(module, c.target, at(*source, 4));
    const auto expected = c.opening ? std::optional<std::uint32_t>(4 + *c.opening) : std::nullopt;
    EXPECT_EQ(noteOffset(note), expected) << c.line;
  }
}

// A quote in the comment after a statement opens nothing; one in the
// statement runs on into the comment.
TEST(QuoteNotesTest, FindsTheQuoteAStatementLeavesOpenBeforeItsComment) {
  const std::pair<const char*, std::optional<std::size_t>> cases[] = {
      {"db(\"abc)", 3},
      {"let s = 'a // b", 8},
      {"db(1) // it's", std::nullopt},
      {"db(\"a\"\"b\") // \"", std::nullopt},
      {"if a == \"x {", 8},
  };
  for (const auto& [line, opening] : cases) {
    module::Module module(target::Target::x86(64));
    const std::string text = std::string("nop\n") + line + "\n";
    const auto source = module.addSource("s.qov", text);
    ASSERT_TRUE(source);
    const auto note = openQuoteInStatement(module, at(*source, 4));
    const auto expected = opening ? std::optional<std::uint32_t>(4 + *opening) : std::nullopt;
    EXPECT_EQ(noteOffset(note), expected) << line;
  }
}

}  // namespace
}  // namespace frontend::lower::quote_notes
