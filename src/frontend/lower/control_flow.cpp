// if/else, while, for and the break/continue signals.

#include <cstdint>

#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/meta_condition.hpp"
#include "frontend/lower/statement_cases.hpp"

namespace frontend::lower::statement_cases {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

// A meta loop runs at most this many rounds.
constexpr std::uint64_t kMaxLoopRounds = 1'000'000;

// Sets the in-loop flag for a loop's lifetime and restores the outer one.
class LoopFlag {
 public:
  explicit LoopFlag(context::LowerContext& context) : context_(context), saved_(context.in_loop) {
    context_.in_loop = true;
  }
  ~LoopFlag() { context_.in_loop = saved_; }
  LoopFlag(const LoopFlag&) = delete;
  LoopFlag& operator=(const LoopFlag&) = delete;

 private:
  context::LowerContext& context_;
  bool saved_;
};

enum class Round : std::uint8_t { next, leave };

// A round's outcome: continue goes on, break leaves with success, anything
// else fails the loop.
qovrin::Result<Round> roundOutcome(const qovrin::Status& body) {
  if (body || body.error() == Error::MetaLoopContinue) return Round::next;
  if (body.error() == Error::MetaLoopBreak) return Round::leave;
  return fail(body.error());
}

// One round of a for loop: the loop name bound to item in a scope of its own.
qovrin::Result<Round> forRound(Lowering& lowering, const ast::MetaForRangeStatement& statement, Value&& item) {
  const context::ScopeGuard scope(lowering.context);
  QOVRIN_TRY(context::defineLocalValue(lowering.context, statement.variable, std::move(item), false,
                                       context::LocalKind::loop_variable));
  return roundOutcome(root::lowerStatementSlice(lowering.module, lowering.cursor, lowering.active_outputs,
                                                statement.body, lowering.context));
}

qovrin::Status lowerRangeFor(Lowering& lowering, const ast::MetaForRangeStatement& statement) {
  const auto first =
      root::evalIntegerAtContext(lowering.module, lowering.context, lowering.cursor, statement.source.first);
  if (!first) return fail(first.error());
  const auto last =
      root::evalIntegerAtContext(lowering.module, lowering.context, lowering.cursor, *statement.source.second);
  if (!last) return fail(last.error());
  if (*last < *first) return fail(Error::InvalidMetaFor);
  if (*last - *first > kMaxLoopRounds) return fail(Error::MetaLoopLimitExceeded);
  for (std::uint64_t index = *first; index < *last; ++index) {
    const auto round = forRound(lowering, statement, Value::integer(index));
    if (!round) return fail(round.error());
    if (*round == Round::leave) break;
  }
  return {};
}

qovrin::Status lowerCollectionFor(Lowering& lowering, const ast::MetaForRangeStatement& statement) {
  auto collection =
      root::evalValueAtContext(lowering.module, lowering.context, lowering.cursor, statement.source.first);
  if (!collection) return fail(collection.error());
  const value::ListValue* list = collection->asList();
  if (list == nullptr) return fail(Error::InvalidMetaFor);
  if (list->size() > kMaxLoopRounds) return fail(Error::MetaLoopLimitExceeded);
  // Read by position: a round that appends to a list sharing this one's
  // storage may move its items.
  for (std::size_t index = 0; index < list->size(); ++index) {
    const auto round = forRound(lowering, statement, Value((*list)[index]));
    if (!round) return fail(round.error());
    if (*round == Round::leave) break;
  }
  return {};
}

}  // namespace

qovrin::Status lowerIf(Lowering& lowering, const ast::MetaIfStatement& statement) {
  const auto truth = root::evalMetaCondition(lowering.module, lowering.context, lowering.cursor, statement.condition);
  if (!truth) return fail(truth.error());
  return root::lowerScopedStatementSlice(lowering.module, lowering.cursor, lowering.active_outputs,
                                         *truth ? statement.then_statements : statement.else_statements,
                                         lowering.context);
}

qovrin::Status lowerWhile(Lowering& lowering, const ast::MetaWhileStatement& statement) {
  const LoopFlag loop(lowering.context);
  // The condition's text does not change between rounds, so it is read once.
  const auto condition = meta_condition::prepareCondition(statement.condition);
  if (!condition) return fail(condition.error());
  std::uint64_t rounds = 0;
  while (true) {
    const auto truth = meta_condition::evaluatePrepared(lowering.module, lowering.context, lowering.cursor, *condition);
    if (!truth) return fail(truth.error());
    if (!*truth) return {};
    if (rounds == kMaxLoopRounds) return fail(Error::MetaLoopLimitExceeded);
    ++rounds;
    const auto round = roundOutcome(root::lowerScopedStatementSlice(
        lowering.module, lowering.cursor, lowering.active_outputs, statement.body, lowering.context));
    if (!round) return fail(round.error());
    if (*round == Round::leave) return {};
  }
}

qovrin::Status lowerFor(Lowering& lowering, const ast::MetaForRangeStatement& statement) {
  const LoopFlag loop(lowering.context);
  if (statement.source.single()) return lowerCollectionFor(lowering, statement);
  return lowerRangeFor(lowering, statement);
}

qovrin::Status lowerLoopSignal(Lowering& lowering, const SourceLocation& location, bool is_break) {
  if (lowering.context.in_loop) return fail(is_break ? Error::MetaLoopBreak : Error::MetaLoopContinue);
  return reportAndFail(lowering.module, location,
                       is_break ? "break used outside of a Meta loop" : "continue used outside of a Meta loop");
}

}  // namespace frontend::lower::statement_cases
