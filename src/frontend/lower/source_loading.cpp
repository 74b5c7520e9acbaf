#include "frontend/lower/source_loading.hpp"

#include <algorithm>
#include <variant>
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "frontend/lower/expression_bridge.hpp"
#include "frontend/syntax/parser.hpp"

namespace frontend::lower::source_loading {

using qovrin::Error;
using qovrin::fail;

namespace {

// Keeps a source on the include stack while it is lowered, and the file
// builtins pointed at it.
class FrameGuard {
 public:
  FrameGuard(context::LowerContext& context, std::string_view path, std::string_view identity) : context_(context) {
    context_.include_stack.push_back({path, identity});
    expression_bridge::syncFileBase(context_);
  }
  ~FrameGuard() {
    context_.include_stack.pop_back();
    expression_bridge::syncFileBase(context_);
  }
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;

 private:
  context::LowerContext& context_;
};

}  // namespace

qovrin::Status lowerIntoModuleWithIdentityInternal(module::Module& module, std::string_view path,
                                                   std::string_view identity, std::string text,
                                                   context::LowerContext& context, LowerFunction lower,
                                                   ErrorFunction report) {
  if (context.include_stack.size() >= context::kMaxIncludeDepth) return fail(Error::IncludeTooDeep);
  if (std::ranges::any_of(context.include_stack,
                          [&](const context::IncludeFrame& frame) { return frame.identity == identity; }))
    return fail(Error::IncludeCycle);
  const FrameGuard frame(context, path, identity);

  if (text.size() > std::numeric_limits<std::uint32_t>::max()) return fail(Error::SourceTooLarge);
  const auto source = module.addSource(std::string(path), std::move(text));
  if (!source) return fail(source.error());

  // Spans point into the module's copy, which stays where it is.
  StatementFeed feed(module.sources()[*source].text, *source);
  const std::size_t diagnostics_before = module.diagnostics().diagnostics().size();
  const auto lowered = lower(module, feed, context);
  if (!lowered) feed.drain();
  if (const auto failure = feed.parseFailure()) {
    module.diagnostics().truncate(diagnostics_before);
    const SourceLocation location =
        feed.parser().errorLocation().value_or(SourceLocation{SourceSpan{*source, 0, 0}, {}});
    report(module, location, *failure);
    return fail(*failure);
  }
  return lowered;
}

namespace {

// Whether a statement holds a body that lowering hands on past its own
// lowering: a function or macro defined, a block deferred to the end of
// lowering or to late layout, also when it stands inside a block.
bool holdsKeptBody(const ast::Statement& statement) noexcept {
  const auto anyHolds = [](const ast::StatementList& list) { return std::ranges::any_of(list, holdsKeptBody); };
  switch (statement.kind()) {
    case ast::StatementKind::meta_function:
    case ast::StatementKind::macro:
    case ast::StatementKind::defer_block:
    case ast::StatementKind::late_layout_block:
      return true;
    case ast::StatementKind::meta_if: {
      const auto& branch = std::get<ast::MetaIfStatement>(statement.payload);
      return anyHolds(branch.then_statements) || anyHolds(branch.else_statements);
    }
    case ast::StatementKind::meta_while:
      return anyHolds(std::get<ast::MetaWhileStatement>(statement.payload).body);
    case ast::StatementKind::meta_for:
      return anyHolds(std::get<ast::MetaForRangeStatement>(statement.payload).body);
    case ast::StatementKind::block:
      return anyHolds(std::get<ast::BlockStatement>(statement.payload).body);
    default:
      return false;
  }
}

}  // namespace

void StatementFeed::releaseBatch() {
  // Moving a statement keeps the statements of its bodies at their addresses.
  for (ast::Statement& statement : batch_)
    if (holdsKeptBody(statement)) kept_.push_back(std::move(statement));
  batch_.clear();
}

void StatementFeed::parseBatch() {
  auto& lexer = parser_.lexer();
  while (!failure_ && batch_.size() < kBatchStatements && !lexer.atEnd()) {
    try {
      const auto line = lexer.next();
      const qovrin::Status appended = line ? parser_.appendExecutableStatement(batch_, *line) : fail(line.error());
      if (!appended) failure_ = appended.error();
    } catch (const std::bad_alloc&) {
      failure_ = Error::OutOfMemory;
    }
  }
}

qovrin::Result<std::span<const ast::Statement>> StatementFeed::next() {
  releaseBatch();
  parseBatch();
  if (failure_) return fail(*failure_);
  return std::span<const ast::Statement>(batch_);
}

void StatementFeed::drain() {
  releaseBatch();
  while (!failure_ && !parser_.lexer().atEnd()) {
    parseBatch();
    batch_.clear();
  }
}

}  // namespace frontend::lower::source_loading
