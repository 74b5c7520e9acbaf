#pragma once
// Compact text forms of parsed expressions and statements, so that tests can
// state the expected tree as one line per case.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"

namespace statement_shape {

// Infix form with full parentheses: (a == 1), -x, f(1, y), a.b, 'text', 1.5e+00;
// builtin arguments taken as bare names print as #name, raw ones as [text].
std::string show(const frontend::expr::Node& node);

// One statement:
//   label:NAME  isa:TEXT  let NAME[:TYPE] = VALUE  const ...  NAME = VALUE
//   call NAME(ARG, "STRING", Type{field: VALUE})  if COND {..} else {..}
//   while COND {..}  for V in range(A, B) {..}  for V in EXPR {..}
//   break  continue  fn NAME(let P: T) -> R {..}  macro NAME(P, ...R) {..}
//   return VALUE  {..}  defer {..}  late_layout {..}
//   [packed ]struct|union NAME {F: T = D, ..}
// Bodies list their statements separated by "; ".
std::string show(const frontend::ast::Statement& statement);
std::string show(const frontend::ast::StatementList& statements);

// The shape of a whole source, or "!ErrorName@LINE" on failure with the
// 1-based line of the parser's error location (0 when none was set).
std::string describe(std::string_view source);

// What the general path makes of one call line, in describe's form: the line
// is broken after its first "(", which the one-pass call reader leaves alone,
// and joined again as every line that goes on is.
std::string describeCall(std::string_view line);

struct ShapeCase {
  const char* source;
  const char* expected;  // what describe gives
};

inline void expectShapes(std::initializer_list<ShapeCase> cases) {
  for (const ShapeCase& c : cases) EXPECT_EQ(describe(c.source), c.expected) << "source:\n" << c.source;
}

inline std::string repeated(std::string_view piece, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += piece;
  return out;
}

// Every one of sources gives the same expected outcome.
inline void expectEach(std::string_view expected, std::initializer_list<const char*> sources) {
  for (const char* source : sources) EXPECT_EQ(describe(source), expected) << "source:\n" << source;
}

// The error name of a failed result, or "ok".
template <typename T>
std::string failure(const qovrin::Result<T>& result) {
  return result ? "ok" : std::string(qovrin::errorName(result.error()));
}

}  // namespace statement_shape
