#pragma once
// The right-hand sides of let, const and assignments: an expression or a
// struct literal, with one readable diagnostic when it names something
// undefined.

#include <span>
#include <string_view>

#include "common/error.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/aggregate_literal.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "frontend/values/value.hpp"

namespace frontend::lower::value_binding {

// The initializer's value. An undefined name is reported at location with
// the initializer's text and fails with FrontendDiagnostics.
qovrin::Result<value::Value> lowerInitializerReporting(module::Module& module, context::LowerContext& context,
                                                       const contracts::ActiveOutput& cursor,
                                                       const ast::StructLiteralValue& initializer,
                                                       const SourceLocation& location,
                                                       const aggregate_literal::Evaluators& evaluators);

// The binding an assignment's value may take over instead of sharing it:
// the value is a call such as map.set(name, ...) on the very binding the
// assignment replaces, so that the change finds the storage held alone.
// Empty when the name reads anything else.
expr::Handover assignmentHandover(module::Module& module, context::LowerContext& context,
                                  const ast::AssignmentStatement& assignment);

// The same for an assignment of value to a local, the only bindings the
// frozen blocks' statements assign.
expr::Handover localHandover(context::LowerContext& context, std::string_view name, const expr::Node& value);

// "undefined name in this expression: <text>", once per source position
// however often the statement there is lowered.
void reportUndefinedSymbol(module::Module& module, const SourceLocation& location, std::string_view text,
                           std::span<const diagnostic::Note> notes = {});

}  // namespace frontend::lower::value_binding
