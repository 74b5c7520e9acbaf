#pragma once
// The entry of lowering and its statement switch: a source is parsed whole,
// then its statements become module contents (labels, values, types) and
// meta-level effects (scopes, conditions, loops), with one diagnostic for
// each failure at the statement that failed.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/include_callbacks.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/statement_lowering.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::lower::root {

// Lowers one source (the module takes the text over) with a lowering state
// of its own. Several calls into one module see what the earlier ones
// defined.
qovrin::Status lowerSourceIntoModuleWithPathOptions(module::Module& module, std::string_view source_path,
                                                    std::string source_text, const contracts::PathOptions& options);

// Every statement of one source, from the end of the module's current section.
qovrin::Status lowerStatementsIntoModuleContext(module::Module& module, std::span<const ast::Statement> statements,
                                                context::LowerContext& context);

// One error diagnostic for a failure at location; a parse failure of an
// unclosed block is followed by a note saying so.
void addLowerErrorDiagnostic(module::Module& module, const SourceLocation& location, qovrin::Error error);
// The same with notes that explain the failure.
void addLowerErrorDiagnostic(module::Module& module, const SourceLocation& location, qovrin::Error error,
                             std::span<const diagnostic::Note> notes);

// include(path) and import(path): loads the source through the driver's
// callbacks and lowers it with the same lowering state. An import lowers a
// source once per module.
qovrin::Status lowerIncludeOrImportCall(module::Module& module, contracts::ActiveOutput& cursor,
                                        const ActiveOutputStack& active_outputs, const ast::ApiCallStatement& call,
                                        context::LowerContext& context, bool is_import);

}  // namespace frontend::lower::root
