#pragma once
// Loading one source into the module: the include stack that bounds nesting
// and refuses cycles, registration of the text, and the whole-source parse.

#include <span>
#include <string_view>

#include "common/error.hpp"
#include "frontend/ast.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module.hpp"
#include "frontend/source_location.hpp"

namespace frontend::lower::source_loading {

using LowerFunction = qovrin::Status (*)(module::Module&, std::span<const ast::Statement>, context::LowerContext&);
using ErrorFunction = void (*)(module::Module&, const SourceLocation&, qovrin::Error);

// Registers the source, parses it whole and hands its statements to lower.
// A parse failure is reported once through report, at the first line of the
// statement that failed; lowering failures are lower's to report. Both texts
// are borrowed for the time of the call.
qovrin::Status lowerIntoModuleWithIdentityInternal(module::Module& module, std::string_view path,
                                                   std::string_view identity, std::string_view text,
                                                   context::LowerContext& context, LowerFunction lower,
                                                   ErrorFunction report);

}  // namespace frontend::lower::source_loading
