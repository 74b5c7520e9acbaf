#include "frontend/lower/notes/float_notes.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "frontend/syntax/parser.hpp"

namespace frontend::lower::float_notes {
namespace {

using qovrin::Error;
using value::ValueKind;

// The note comes from the value lowering refused, as it saw it: the names in
// these lines are defined nowhere, so nothing could be evaluated again.
TEST(FloatKindNote, TellsTheRefusedValueAsLoweringSawIt) {
  struct Case {
    const char* line;
    std::size_t argument;
    ValueKind kind;
    std::optional<std::string> note;
  };
  const Case cases[] = {
      {"db(x)", 0, ValueKind::float32,
       "x is an f32, and db writes integers: emit.f32(x) writes an f32, emit.f64(f64(x)) an f64"},
      {"store.u32(p, q)", 1, ValueKind::float64,
       "q is an f64, and store.u32 writes integers: emit.f32(f32(q)) writes an f32, emit.f64(q) an f64"},
      // The text was refused, not the float after it.
      {"dw(\"A\", 1.5)", 0, ValueKind::string, std::nullopt},
      {"emit.f32(n)", 0, ValueKind::integer, "n is an integer; emit.f32 takes an f32: integers do not convert to floats"},
      {"let v: u16 = w", 0, ValueKind::float64,
       "w is an f64; 'v' is declared u16, which holds integers: floats do not convert to integers"},
      {"let v: f64 = w", 0, ValueKind::float64, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    parser::Parser parser(c.line);
    const auto statements = parser.parseSource();
    ASSERT_TRUE(statements);
    const ast::Statement& statement = statements->front();
    const context::RefusedValue refused{statement.location(), c.argument, c.kind};
    EXPECT_EQ(floatKindNote(statement, Error::InvalidApiArgument, refused), c.note);
  }
}

// A refusal elsewhere, or a failure of another kind, tells nothing here.
TEST(FloatKindNote, ReadsOnlyARefusalOfItsOwnStatement) {
  parser::Parser parser("db(1.5)\ndb(2.5)");
  const auto statements = parser.parseSource();
  ASSERT_TRUE(statements);
  const context::RefusedValue first{(*statements)[0].location(), 0, ValueKind::float64};
  EXPECT_TRUE(floatKindNote((*statements)[0], Error::InvalidApiArgument, first));
  EXPECT_FALSE(floatKindNote((*statements)[1], Error::InvalidApiArgument, first));
  EXPECT_FALSE(floatKindNote((*statements)[0], Error::InvalidApiArity, first));
  EXPECT_FALSE(floatKindNote((*statements)[0], Error::InvalidApiArgument, std::nullopt));
}

}  // namespace
}  // namespace frontend::lower::float_notes
