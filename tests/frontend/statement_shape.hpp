#pragma once
// Compact text forms of parsed statements, so that parser tests can state the
// expected tree as one line per case.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/ast.hpp"

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

// The outcome of parsing a whole source: its statements, or the error and the
// 1-based line of the parser's error location (0 when none was set).
struct Outcome {
  std::string shape;
  std::optional<qovrin::Error> error;
  std::uint32_t error_line = 0;
};

Outcome parse(std::string_view source);

// The shape, or "!ErrorName@LINE" on failure: one string per case in tables.
std::string describe(std::string_view source);

}  // namespace statement_shape
