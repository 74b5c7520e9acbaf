#include "frontend/lower/source_loading.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "frontend/lower/expression_bridge.hpp"
#include "frontend/parser.hpp"

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
                                                   std::string_view identity, std::string_view text,
                                                   context::LowerContext& context, LowerFunction lower,
                                                   ErrorFunction report) {
  if (context.include_stack.size() >= context::kMaxIncludeDepth) return fail(Error::IncludeTooDeep);
  if (std::ranges::any_of(context.include_stack,
                          [&](const context::IncludeFrame& frame) { return frame.identity == identity; }))
    return fail(Error::IncludeCycle);
  const FrameGuard frame(context, path, identity);

  if (text.size() > std::numeric_limits<std::uint32_t>::max()) return fail(Error::SourceTooLarge);
  const auto source = module.addSource(std::string(path), std::string(text));
  if (!source) return fail(source.error());

  // Spans point into the module's copy, which stays where it is.
  parser::Parser parser(module.sources()[*source].text, *source);
  auto statements = parser.parseSource();
  if (!statements) {
    const SourceLocation location = parser.errorLocation().value_or(SourceLocation{SourceSpan{*source, 0, 0}, {}});
    report(module, location, statements.error());
    return fail(statements.error());
  }
  return lower(module, *statements, context);
}

}  // namespace frontend::lower::source_loading
