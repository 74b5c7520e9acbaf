#pragma once
// print, warn, err and assert: their arguments as message text, and strings
// and byte strings written back as source literals.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/value.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::diagnostic_format {

// Appends one call argument as message text: a string literal as written,
// an expression by its value; a struct literal is InvalidApiArgument.
qovrin::Status appendDiagnosticArgument(std::string& out, module::Module& module, context::LowerContext& context,
                                        const contracts::ActiveOutput& cursor, const ast::ApiCallArgument& argument);

// "text" with every double quote doubled; nothing else is escaped.
std::string formatStringLiteral(std::string_view text);

// b"..." in the same form; the bytes 41 22 42 give b"A""B".
std::string formatBytesValue(std::span<const std::uint8_t> bytes);

}  // namespace frontend::lower::diagnostic_format

namespace frontend::lower::root {

// print / warn / err: the arguments joined by single spaces, recorded at the
// call with the given severity. Nothing is recorded when an argument fails.
qovrin::Status lowerDiagnosticCall(module::Module& module, context::LowerContext& context,
                                   const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                   diagnostic::Severity severity);

// assert(condition [, message]): the condition must be a boolean; a false one
// records an error and fails with FrontendDiagnostics.
qovrin::Status lowerAssertCall(module::Module& module, context::LowerContext& context,
                               const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call);

}  // namespace frontend::lower::root
