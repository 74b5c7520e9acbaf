#pragma once
// Loading one source into the module: the include stack that bounds nesting
// and refuses cycles, registration of the text, and the parse that feeds
// lowering its statements a batch at a time.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::lower::source_loading {

// The statements of one source in order, parsed a batch at a time so that a
// large source never holds its whole statement tree. A batch is dropped once
// the next one is asked for; only the statements holding a function, macro,
// defer or late_layout body, which lowering may refer to later, stay until
// the feed ends.
class StatementFeed {
 public:
  StatementFeed(std::string_view text, std::uint32_t source) : parser_(text, source) {}

  // The next batch; empty once the source is done. A parse failure is kept
  // (parseFailure()) and returned again on every later call.
  qovrin::Result<std::span<const ast::Statement>> next();
  // Parses what is left without keeping it, to find a parse failure.
  void drain();

  const std::optional<qovrin::Error>& parseFailure() const noexcept { return failure_; }
  const parser::Parser& parser() const noexcept { return parser_; }

 private:
  static constexpr std::size_t kBatchStatements = 256;

  // Drops the batch just lowered, but for the statements that must stay.
  void releaseBatch();
  // Appends up to kBatchStatements statements, or records the parse failure.
  void parseBatch();

  parser::Parser parser_;
  ast::StatementList batch_;
  ast::StatementList kept_;
  std::optional<qovrin::Error> failure_;
};

using LowerFunction = qovrin::Status (*)(module::Module&, StatementFeed&, context::LowerContext&);
using ErrorFunction = void (*)(module::Module&, const SourceLocation&, qovrin::Error);

// Registers the source and hands its statements to lower as they are parsed.
// A parse failure anywhere in the source wins over any lowering failure: what
// lowering reported is taken back and the parse failure is reported once
// through report, at the first line of the statement that failed; lowering
// failures are lower's to report. The path and identity are borrowed for the
// time of the call; the module takes the text over.
qovrin::Status lowerIntoModuleWithIdentityInternal(module::Module& module, std::string_view path,
                                                   std::string_view identity, std::string text,
                                                   context::LowerContext& context, LowerFunction lower,
                                                   ErrorFunction report);

}  // namespace frontend::lower::source_loading
