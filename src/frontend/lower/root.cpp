#include "frontend/lower/root.hpp"

#include <algorithm>
#include <new>
#include <string>

#include "frontend/lower/arguments.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/notes/line_notes.hpp"
#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/notes/quote_notes.hpp"
#include "frontend/lower/source_loading.hpp"
#include "frontend/syntax/source_path.hpp"

namespace frontend::lower::root {

using qovrin::Error;
using qovrin::fail;

namespace {

// Lowers every batch that next() gives until it gives an empty one.
template <typename NextBatch>
qovrin::Status lowerBatches(module::Module& module, context::LowerContext& context, NextBatch&& next) {
  contracts::ActiveOutput cursor{0, 0, module.currentSection(), module.target(), false};
  QOVRIN_TRY(layout_cursor::remeasureActiveOutput(module, cursor));
  ActiveOutputStack active_outputs;
  while (true) {
    const qovrin::Result<std::span<const ast::Statement>> batch = next();
    if (!batch) return fail(batch.error());
    if (batch->empty()) break;
    QOVRIN_TRY(lowerStatementSlice(module, cursor, active_outputs, *batch, context));
  }
  if (active_outputs.empty()) return {};
  // The failure has no statement of its own; the driver names it, and this
  // note says which virtual.begin was left open.
  if (!context.virtual_begins.empty())
    module.diagnostics().addSingle(diagnostic::Severity::note, context.virtual_begins.back(),
                                   "this virtual.begin has no virtual.end before the end of the source");
  return fail(Error::UnclosedVirtualOutput);
}

qovrin::Status lowerStatementFeed(module::Module& module, source_loading::StatementFeed& feed,
                                  context::LowerContext& context) {
  return lowerBatches(module, context, [&] { return feed.next(); });
}

}  // namespace

qovrin::Status lowerSourceIntoModuleWithPathOptions(module::Module& module, std::string_view source_path,
                                                    std::string source_text, const contracts::PathOptions& options) {
  // Statements and parse failures report running out of memory where it
  // happened; this catches what fails around them.
  try {
    context::LowerContext context(options);
    expression_bridge::bindHooks(context);
    const std::string identity = source_path::normalizeIdentity(options.identity.value_or(source_path));
    const std::size_t first_source = module.sources().size();
    const qovrin::Status lowered = source_loading::lowerIntoModuleWithIdentityInternal(
        module, source_path, identity, std::move(source_text), context, &lowerStatementFeed, &addLowerErrorDiagnostic);
    const auto keep = [&](const ast::MetaFunctionStatement& definition, bool macro) {
      module.keepSourceOnlyDefinition({definition.name, macro, std::string(source_path), definition.location,
                                       first_source, module.sources().size()});
    };
    for (const std::string_view name : context.macros.names())
      if (const ast::MetaFunctionStatement* macro = context.macros.first(name)) keep(*macro, true);
    for (std::uint32_t index = 0; index < context.functions.size(); ++index) keep(context.functions.at(index), false);
    return lowered;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

qovrin::Status lowerStatementsIntoModuleContext(module::Module& module, std::span<const ast::Statement> statements,
                                                context::LowerContext& context) {
  bool given = false;
  return lowerBatches(module, context, [&]() -> qovrin::Result<std::span<const ast::Statement>> {
    if (given) return std::span<const ast::Statement>();
    given = true;
    return statements;
  });
}

void addLowerErrorDiagnostic(module::Module& module, const SourceLocation& location, Error error) {
  auto quote = quote_notes::openStringAbove(module, location);
  // A line inside a string left open above is no statement at all; what the
  // line itself seems to get wrong would mislead.
  std::vector<diagnostic::Note> notes;
  if (!quote || error != Error::InvalidMetaStatement) notes = line_notes::parseNotes(module, location, error);
  if (quote) notes.push_back(std::move(*quote));
  addLowerErrorDiagnostic(module, location, error, notes);
}

void addLowerErrorDiagnostic(module::Module& module, const SourceLocation& location, Error error,
                             std::span<const diagnostic::Note> notes) {
  std::string message;
  switch (error) {
    case Error::UnionFieldDefaultNotAllowed:
      message = "union fields cannot declare defaults; a union literal must select exactly one active field";
      break;
    case Error::LegacyDirectiveSyntax:
      message = "legacy assembler directive is not supported; use modern QOVRIN API syntax";
      break;
    case Error::InvalidMetaStatement:
      message = "invalid Meta statement or unmatched block delimiter; block headers must end with '{' on the same line";
      break;
    default:
      message = "lowering failed: ";
      message += qovrin::errorName(error);
      break;
  }
  module.diagnostics().addWithNotes(diagnostic::Severity::error, location, message, notes);
}

qovrin::Status lowerIncludeOrImportCall(module::Module& module, contracts::ActiveOutput& cursor,
                                        const ActiveOutputStack& active_outputs, const ast::ApiCallStatement& call,
                                        context::LowerContext& context, bool is_import) {
  if (call.arguments.size() != 1) return fail(Error::InvalidApiArity);
  if (!active_outputs.empty()) return fail(Error::InvalidApiCall);
  if (is_import && !context.scopes.empty()) return fail(Error::InvalidMetaBlock);
  const auto name = sourcePathArgAtContext(module, context, cursor, call, 0);
  if (!name) return fail(name.error());
  if (!context.paths.files_available || !context.paths.resolve_file_include) return fail(Error::IncludeNotAvailable);

  contracts::IncludeRequest request;
  request.name = *name;
  if (!context.include_stack.empty()) request.base = context.include_stack.back().path;
  request.span = call.location.span;
  auto source = context.paths.resolve_file_include(request);
  if (!source) return fail(source.error());

  const std::string identity = source_path::normalizeIdentity(source->canonical_path.value_or(source->path));
  if (std::ranges::any_of(context.include_stack,
                          [&](const context::IncludeFrame& frame) { return frame.identity == identity; }))
    return fail(Error::IncludeCycle);
  if (is_import && module.isImported(identity)) return {};
  context.include_calls.push_back(call.location);
  const auto lowered = source_loading::lowerIntoModuleWithIdentityInternal(
      module, source->path, identity, std::move(source->text), context, &lowerStatementFeed, &addLowerErrorDiagnostic);
  context.include_calls.pop_back();
  QOVRIN_TRY(lowered);
  if (is_import) module.markImported(identity);

  // The included source may have emitted into this section or switched the
  // target; the caller goes on from where it left off.
  QOVRIN_TRY(layout_cursor::remeasureActiveOutput(module, cursor));
  cursor.target = module.target();
  module.setCurrentSection(cursor.section);
  return {};
}

}  // namespace frontend::lower::root
