// defer and late_layout statements: their bodies are frozen into the module,
// for assembly to run after encoding (late_layout) or on the finished image
// (defer).

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/display_text.hpp"
#include "frontend/lower/api.hpp"
#include "frontend/lower/notes/builtin_family_notes.hpp"
#include "frontend/lower/collection_mutation.hpp"
#include "frontend/lower/deferred.hpp"
#include "frontend/lower/notes/frozen_block_notes.hpp"
#include "frontend/lower/late_layout.hpp"
#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/lower/statement_cases.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"

namespace frontend::lower::statement_cases {

using qovrin::fail;

namespace {

// A block written by a macro keeps the expansion it came from, so that what
// it reports when it runs carries that macro's notes.
SourceLocation blockLocation(const module::Module& module, const SourceLocation& location) {
  SourceLocation stamped = location;
  if (!stamped.expansion) stamped.expansion = module.diagnostics().currentExpansion();
  return stamped;
}

std::string_view statementWord(ast::StatementKind kind) {
  using ast::StatementKind;
  switch (kind) {
    case StatementKind::label:
      return "a label";
    case StatementKind::isa_text:
      return "an instruction";
    case StatementKind::value_declaration:
      return "'let'";
    case StatementKind::assignment:
      return "an assignment";
    case StatementKind::struct_declaration:
      return "a struct declaration";
    case StatementKind::api_call:
      return "a call";
    case StatementKind::meta_if:
      return "'if'";
    case StatementKind::meta_while:
      return "'while'";
    case StatementKind::meta_for:
      return "'for'";
    case StatementKind::break_loop:
      return "'break'";
    case StatementKind::continue_loop:
      return "'continue'";
    case StatementKind::meta_function:
      return "'fn'";
    case StatementKind::macro:
      return "'macro'";
    case StatementKind::meta_return:
      return "'return'";
    case StatementKind::block:
      return "a '{' block";
    case StatementKind::defer_block:
      return "'defer'";
    case StatementKind::late_layout_block:
      return "'late_layout'";
  }
  return "this statement";
}

// The statement of a defer body that freezing refused: the first, in source
// order, that is neither let/const, an assignment, an allowed call, if,
// while, break nor continue.
const ast::Statement* refusedInDefer(std::span<const ast::Statement> statements) {
  using ast::StatementKind;
  for (const ast::Statement& statement : statements) {
    const ast::Statement* refused = nullptr;
    switch (statement.kind()) {
      case StatementKind::value_declaration:
      case StatementKind::assignment:
      case StatementKind::break_loop:
      case StatementKind::continue_loop:
        break;
      case StatementKind::api_call:
        if (!root::isAllowedDeferredApi(std::get<ast::ApiCallStatement>(statement.payload).name)) refused = &statement;
        break;
      case StatementKind::meta_if: {
        const auto& branch = std::get<ast::MetaIfStatement>(statement.payload);
        refused = refusedInDefer(branch.then_statements);
        if (refused == nullptr) refused = refusedInDefer(branch.else_statements);
        break;
      }
      case StatementKind::meta_while:
        refused = refusedInDefer(std::get<ast::MetaWhileStatement>(statement.payload).body);
        break;
      default:
        refused = &statement;
        break;
    }
    if (refused != nullptr) return refused;
  }
  return nullptr;
}

// The same for a late_layout body, which takes only allowed calls and if.
// Inside a scope an if was decided while freezing, and only the branch
// taken was looked at; `decide` is then given to take it again.
template <typename Decide>
const ast::Statement* refusedInLateLayout(std::span<const ast::Statement> statements, const Decide& decide) {
  for (const ast::Statement& statement : statements) {
    if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload)) {
      if (!api::isAllowedLateLayoutApi(call->name)) return &statement;
      continue;
    }
    const auto* branch = std::get_if<ast::MetaIfStatement>(&statement.payload);
    if (branch == nullptr) return &statement;
    const std::optional<bool> taken = decide(*branch);
    const ast::Statement* refused = nullptr;
    if (!taken || *taken) refused = refusedInLateLayout(branch->then_statements, decide);
    if (refused == nullptr && (!taken || !*taken)) refused = refusedInLateLayout(branch->else_statements, decide);
    if (refused != nullptr) return refused;
  }
  return nullptr;
}

// Whether a call in a frozen block names anything at all: a call of a line,
// a value builtin, a function or a macro of the source. Any other name would
// be refused outside the block too, so the block is not the cause.
bool namesSomething(const Lowering& lowering, std::string_view name) {
  return api::isCallName(name) || expr::isBuiltinName(name) || lowering.module.metaFunctions().find(name) ||
         lowering.context.functions.find(name) || lowering.context.macros.contains(name) ||
         std::ranges::find(collection_mutation::kMutationNames, name) != collection_mutation::kMutationNames.end();
}

// What each block may call, for the note on a call it cannot make.
std::string_view allowedCalls(bool in_defer) {
  if (in_defer) return "print, warn, err, assert and store.*";
  return "the data and reserve calls (db, dd, rb, ...), emit.* but emit.file, store.*, reserve, pad, pad_to, align, "
         "origin, region.begin, region.file_align, output.org, output.section, virtual.begin, virtual.end, print, "
         "warn, err and assert";
}

std::string refusalNote(const Lowering& lowering, const ast::Statement& statement, bool in_defer) {
  std::string_view word = statementWord(statement.kind());
  if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload))
    word = declaration->is_mutable ? "'let'" : "'const'";
  const std::string_view block = in_defer ? "a 'defer' block" : "a 'late_layout' block";
  if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload)) {
    if (!namesSomething(lowering, call->name))
      return "there is no call named " + qovrin::quotedSubject(call->name) +
             builtin_family_notes::callFamilyMembers(call->name, api::callNames());
    // A statement function shadows the call of its name at top level, but a
    // frozen block runs without the source's functions.
    if (lowering.context.functions.find(call->name) && !api::isCallName(call->name))
      return qovrin::quotedSubject(call->name) + " is a function of the source, which " + std::string(block) +
             " cannot call: it may call " + std::string(allowedCalls(in_defer));
    if (in_defer && api::isCallName(call->name))
      return "'" + call->name + "' changes the layout, which " + std::string(block) +
             " cannot: it runs on the finished image, which it may read, store into and print";
    // A collection mutation or a statement function changes no layout, but
    // only the listed calls run on the finished image.
    if (in_defer)
      return "'" + call->name + "' cannot be called in " + std::string(block) +
             ": only print, warn, err, assert, store.u8, store.u16, store.u32, store.u64 and store.bytes can, "
             "besides let, const, assignments, if and while";
    return "'" + call->name + "' cannot be called in " + std::string(block);
  }
  if (in_defer && statement.kind() == ast::StatementKind::meta_for)
    return "'for' is not allowed in a 'defer' block; 'while' is";
  if (in_defer) return std::string(word) + " cannot stand in " + std::string(block);
  return std::string(word) + " is not allowed in " + std::string(block) + "; only calls and 'if' are";
}

// Names the refused statement at its own line, with the block it stands in.
qovrin::Status reportRefused(Lowering& lowering, const ast::Statement* refused, const SourceLocation& block,
                             bool in_defer, qovrin::Error error) {
  if (refused == nullptr) return fail(error);
  const diagnostic::Note notes[] = {
      {refusalNote(lowering, *refused, in_defer), std::nullopt},
      {std::string("in the '") + (in_defer ? "defer" : "late_layout") + "' block opened here", block},
  };
  root::addLowerErrorDiagnostic(lowering.module, refused->location(), error, notes);
  return fail(qovrin::Error::FrontendDiagnostics);
}

// A block in a scope refused a value it reads or writes: the error stays at
// the block's header, the note names the value at its own line.
qovrin::Status reportFrozenValue(Lowering& lowering, std::span<const ast::Statement> body, const SourceLocation& block,
                                 bool in_defer, qovrin::Error error) {
  const auto note = frozen_block_notes::frozenValueNote(lowering.context, body, in_defer);
  if (!note) return fail(error);
  root::addLowerErrorDiagnostic(lowering.module, block, error, std::span(&*note, 1));
  return fail(qovrin::Error::FrontendDiagnostics);
}

}  // namespace

qovrin::Status lowerDeferBlock(Lowering& lowering, const ast::DeferStatement& statement) {
  output::contracts::DeferredBlock block;
  block.location = blockLocation(lowering.module, statement.location);
  if (lowering.context.scopes.empty()) {
    auto statements = deferred::cloneStatementSlice(statement.body, &root::isAllowedDeferredApi);
    if (!statements && statements.error() == qovrin::Error::FinalizerCannotChangeLayout)
      return reportRefused(lowering, refusedInDefer(statement.body), statement.location, true, statements.error());
    if (!statements) return fail(statements.error());
    block.statements = std::move(*statements);
  } else {
    // The scopes are gone when the block runs: here() is where the defer
    // statement stands, and the locals it reads travel with it.
    const auto here = layout_cursor::activeAddress(lowering.module, lowering.cursor);
    if (!here) return fail(here.error());
    std::vector<output::contracts::DeferredCapture> captures;
    deferred::Freezer freezer{lowering.context, &captures};
    const std::optional<std::uint64_t> outer_here = std::exchange(lowering.context.here, *here);
    auto statements = deferred::freezeStatementSlice(freezer, statement.body, &root::isAllowedDeferredApi);
    lowering.context.here = outer_here;
    if (!statements && statements.error() == qovrin::Error::FinalizerCannotChangeLayout)
      return reportRefused(lowering, refusedInDefer(statement.body), statement.location, true, statements.error());
    if (!statements && statements.error() == qovrin::Error::InvalidApiArgument)
      return reportFrozenValue(lowering, statement.body, statement.location, true, statements.error());
    if (!statements) return fail(statements.error());
    block.statements = std::move(*statements);
    block.captures = std::move(captures);
  }
  lowering.module.deferredBlocks().push_back(std::move(block));
  return {};
}

qovrin::Status lowerLateLayoutBlock(Lowering& lowering, const ast::LateLayoutStatement& statement) {
  const late_layout::FreezeCallbacks callbacks{&api::isAllowedLateLayoutApi, &root::evalLateLayoutCondition};
  output::contracts::LateLayoutBlock block;
  block.location = blockLocation(lowering.module, statement.location);
  if (lowering.context.scopes.empty()) {
    auto statements = late_layout::cloneStatementSlice(statement.body, callbacks);
    if (!statements && statements.error() == qovrin::Error::InvalidLateLayout) {
      const auto both = [](const ast::MetaIfStatement&) { return std::optional<bool>(); };
      return reportRefused(lowering, refusedInLateLayout(statement.body, both), statement.location, false,
                           statements.error());
    }
    if (!statements) return fail(statements.error());
    block.statements = std::move(*statements);
  } else {
    const contracts::ActiveOutput cursor = lowering.cursor;
    for (const ast::Statement& body_statement : statement.body) {
      const auto frozen = late_layout::freezeStatementAppend(lowering.module, lowering.context, cursor, body_statement,
                                                             block.statements, callbacks);
      if (!frozen && frozen.error() == qovrin::Error::InvalidApiArgument)
        return reportFrozenValue(lowering, std::span(&body_statement, 1), statement.location, false, frozen.error());
      if (frozen || frozen.error() != qovrin::Error::InvalidLateLayout) {
        QOVRIN_TRY(frozen);
        continue;
      }
      // The conditions were decided once already; deciding them again takes the same branches.
      const auto decide = [&](const ast::MetaIfStatement& branch) -> std::optional<bool> {
        const auto truth = callbacks.condition(lowering.module, lowering.context, cursor, branch.condition);
        return truth ? std::optional<bool>(*truth) : std::nullopt;
      };
      return reportRefused(lowering, refusedInLateLayout(std::span(&body_statement, 1), decide), statement.location,
                           false, frozen.error());
    }
  }
  lowering.module.lateLayoutBlocks().push_back(std::move(block));
  return {};
}

}  // namespace frontend::lower::statement_cases
