#include "frontend/lower/notes/call_syntax_notes.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace frontend::lower::call_syntax_notes {
namespace {

TEST(CallSyntaxNotesTest, PointsAtWhereTheArgumentsStopParsing) {
  struct Case {
    const char* line;
    std::optional<const char*> at;  // the text the note stands at, from there on
    const char* says;
  };
  const Case cases[] = {
      {"emit.u8(1 +)", ")", "'1 +' ends where a value must follow"},
      {"emit.u8(1))", ")", "this ')' closes no '('"},
      {"  store.u8(0, 1 +)  // c", ")  // c", "'1 +' ends where a value must follow"},
      {"db(1, 2 * * 3)", "* 3)", "'*' cannot stand here"},
      {"db(1) x", "x", "'x' cannot follow the call's ')'"},
      {"db((1, 2)", "((1, 2)", "this '(' is not closed on this line"},
      {"db(\"a)\", 'b,(', 1)", std::nullopt, ""},
      // A backslash ends no string: the quote after it closes this one.
      {"db(\"\\\", 1 2) // \"", "2) // \"", "'2' cannot stand here"},
      {"db('\\', 1 2) // '", "2) // '", "'2' cannot stand here"},
      // A name that starts with '.' is a label no expression can read.
      {"dd(.end - .start)", ".end - .start)",
       "'.end' starts with '.', and such names serve as jump targets and "
       "addresses (L, L + k) but cannot stand in an expression; give the "
       "label a plain name such as 'end' to compute with it"},
      {"dd(4 * ._a.b)", "._a.b)", "a plain name such as '_a.b' to compute with it"},
      {"dd(1 + .5)", ".5)", "'.' cannot stand here"},
      {"emit.struct(P { x: 1, y: 2 })", std::nullopt, ""},
      {"db(1);", std::nullopt, ""},
      {"x = 1 +", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    const std::string line = c.line;
    const SourceLocation location{SourceSpan{0, 100, static_cast<std::uint32_t>(100 + line.size())}, std::nullopt};
    const auto note = argumentSyntaxNote(line, location);
    ASSERT_EQ(note.has_value(), c.at.has_value()) << c.line;
    if (!note) continue;
    EXPECT_EQ(line.substr(note->location->span.start - 100), *c.at) << c.line;
    EXPECT_TRUE(note->message.ends_with(c.says)) << c.line << ": " << note->message;
  }
}

}  // namespace
}  // namespace frontend::lower::call_syntax_notes
