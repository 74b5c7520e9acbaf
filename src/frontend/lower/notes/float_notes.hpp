#pragma once
// Why a float went where it does not fit: a literal such as 1.5 is an f64,
// which emit.f32 and an 'f32' declaration do not take until f32(...)
// converts it, and which no integer field takes at all.

#include <optional>
#include <string>

#include "common/error.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/syntax/ast.hpp"

namespace frontend::lower::float_notes {

// The note for `statement`, failed with `error`, when a number of the wrong
// kind is what it refused: a float where integers go, an integer or the
// other float kind where emit.f32, emit.f64 or a float declaration wants one;
// none otherwise. The kind is the one lowering saw when it refused the value.
std::optional<std::string> floatKindNote(const ast::Statement& statement, qovrin::Error error,
                                         const std::optional<context::RefusedValue>& refused);

// The same for argument `argument` of a call, of kind `kind`: a float given
// to a call that writes integers, or as the place a store writes at; the
// other float kind given to emit.f32 or emit.f64.
std::optional<std::string> argumentKindNote(const ast::ApiCallStatement& call, std::size_t argument,
                                            value::ValueKind kind);

// The note for a call of f32(x) or f64(x) that failed because x is an
// integer: the conversions take floats only.
std::optional<std::string> conversionCallNote(const expr::Node& call, const expr::EvaluationContext& evaluation);

}  // namespace frontend::lower::float_notes
