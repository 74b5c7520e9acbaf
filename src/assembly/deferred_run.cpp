#include "assembly/deferred_run.hpp"

#include <algorithm>
#include <array>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "assembly/deferred_failure_notes.hpp"
#include "assembly/failing_part.hpp"
#include "assembly/frozen_block.hpp"
#include "common/ascii.hpp"
#include "common/little_endian.hpp"
#include "common/work_stack.hpp"
#include "frontend/evaluate/expr_builtin.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/value_binding.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/values/typecheck.hpp"

namespace assembly {

using frontend::ast::ApiCallArgument;
using frontend::ast::ApiCallStatement;
using frontend::expr::Node;
using frontend::value::Value;
using qovrin::Error;
using qovrin::fail;
namespace contracts = frontend::output::contracts;
namespace lower = frontend::lower;

namespace {

// A body runs at most this many rounds; the limit strikes when the condition
// holds once more.
constexpr std::uint64_t kMaxLoopRounds = 1'000'000;

// What an expression of a finalizer evaluates against: the module, the
// final image and the run's locals.
frontend::expr::EvaluationContext evaluationContext(DeferredRunContext& run) {
  return frontend::expr::EvaluationContext{
      .module = run.module,
      .offset = 0,
      .file_cursor = std::nullopt,
      .image = &run.image,
      .file_hooks = nullptr,
      .hooks = &run.hooks,
      .blocked_names = {},
      .target = std::nullopt,
      .current_section = run.current_section,
  };
}

qovrin::Result<const Node*> parsedText(DeferredRunContext& run, const std::string& text) {
  if (const auto found = run.parsed_texts.find(&text); found != run.parsed_texts.end()) return &found->second;
  auto tree = frontend::expr::parseOwned(text);
  if (!tree) return fail(tree.error());
  return &run.parsed_texts.emplace(&text, std::move(*tree)).first->second;
}

qovrin::Result<Value> evaluateText(DeferredRunContext& run, const std::string& text) {
  const auto tree = parsedText(run, text);
  if (!tree) return fail(tree.error());
  return frontend::expr::evaluateValue(**tree, evaluationContext(run));
}

qovrin::Result<bool> deferredEvalBoolean(DeferredRunContext& run, const Node& node) {
  const auto value = frontend::expr::evaluateValue(node, evaluationContext(run));
  if (!value) return fail(value.error());
  const bool* truth = value->getIf<bool>();
  if (truth == nullptr) return fail(Error::TypeMismatch);
  return *truth;
}

// true and false decide without evaluation; an empty condition is InvalidMetaIf.
qovrin::Result<bool> conditionHolds(DeferredRunContext& run, const std::string& text) {
  const std::string_view trimmed = qovrin::trim(text, " \t\r\n");
  if (trimmed.empty()) return fail(Error::InvalidMetaIf);
  if (trimmed == "true") return true;
  if (trimmed == "false") return false;
  const auto tree = parsedText(run, text);
  if (!tree) return fail(tree.error());
  return deferredEvalBoolean(run, **tree);
}

const Node* expressionArgument(const ApiCallArgument& argument) noexcept { return argument.expression(); }

qovrin::Result<frontend::expr::OutputPosition> deferredOutputTarget(DeferredRunContext& run,
                                                                    std::span<const ApiCallArgument> arguments) {
  if (arguments.empty()) return fail(Error::InvalidApiArity);
  const Node* expression = expressionArgument(arguments[0]);
  if (expression == nullptr) return fail(Error::InvalidApiArgument);
  return frontend::expr::resolveOutputExpressionTarget(evaluationContext(run), *expression);
}

// A target with a known section stores within that section's stored bytes;
// a bare address goes wherever the image maps it.
qovrin::Status storeAt(DeferredRunContext& run, const frontend::expr::OutputPosition& target,
                       std::span<const std::uint8_t> bytes) {
  if (!target.section_known) return run.image.storeBytes(target.address, bytes);
  const auto position = run.image.mapInSection(target.section, target.address, bytes.size());
  if (!position) return fail(position.error());
  std::ranges::copy(bytes, run.image.bytes.begin() + static_cast<std::ptrdiff_t>(*position));
  return {};
}

qovrin::Status storeBytesCall(DeferredRunContext& run, const ApiCallStatement& call) {
  if (call.arguments.size() != 2) return fail(Error::InvalidApiArity);
  const auto target = deferredOutputTarget(run, call.arguments);
  if (!target) return fail(target.error());
  const ApiCallArgument& data = call.arguments[1];
  if (const auto literal = data.string())
    return storeAt(run, *target, std::span(reinterpret_cast<const std::uint8_t*>(literal->data()), literal->size()));
  const Node* expression = expressionArgument(data);
  if (expression == nullptr) return fail(Error::InvalidApiArgument);
  const auto value = frontend::expr::evaluateValue(*expression, evaluationContext(run));
  if (!value) return fail(value.error());
  if (const std::string* text = value->asString())
    return storeAt(run, *target, std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()));
  if (const auto* bytes = value->asBytes()) return storeAt(run, *target, *bytes);
  return fail(Error::InvalidApiArgument);
}

qovrin::Status storeIntegerCall(DeferredRunContext& run, const ApiCallStatement& call, std::size_t width) {
  if (call.arguments.size() != 2) return fail(Error::InvalidApiArity);
  const auto target = deferredOutputTarget(run, call.arguments);
  if (!target) return fail(target.error());
  const Node* expression = expressionArgument(call.arguments[1]);
  if (expression == nullptr) return fail(Error::InvalidApiArgument);
  const auto value = frontend::expr::evaluateValue(*expression, evaluationContext(run));
  if (!value) return fail(value.error());
  const auto* integer = value->asInteger();
  if (integer == nullptr) return fail(Error::TypeMismatch);
  if (!qovrin::fitsIntegerWidth(integer->word, width)) return fail(Error::InvalidApiInteger);
  std::array<std::uint8_t, 8> bytes{};
  for (std::size_t index = 0; index < width; ++index)
    bytes[index] = static_cast<std::uint8_t>(integer->word >> (8 * index));
  return storeAt(run, *target, std::span(bytes).first(width));
}

// Reports and stops the run: FrontendDiagnostics.
qovrin::Status reportError(DeferredRunContext& run, const frontend::SourceLocation& location,
                           std::string_view message) {
  run.module.diagnostics().add(frontend::diagnostic::Severity::error, location, message);
  return fail(Error::FrontendDiagnostics);
}

qovrin::Status assertCall(DeferredRunContext& run, const ApiCallStatement& call) {
  if (call.arguments.empty() || call.arguments.size() > 2) return fail(Error::InvalidApiArity);
  const Node* condition = expressionArgument(call.arguments[0]);
  if (condition == nullptr) return fail(Error::InvalidApiArgument);
  const auto truth = deferredEvalBoolean(run, *condition);
  if (!truth) return fail(truth.error());
  if (*truth) return {};
  if (call.arguments.size() == 1) return reportError(run, call.location, "assertion failed");
  const auto message = formatDeferredDiagnosticArg(run, call.arguments[1]);
  if (!message) return fail(message.error());
  return reportError(run, call.location, *message);
}

qovrin::Status addDeferredDiagnostic(DeferredRunContext& run, const ApiCallStatement& call,
                                     frontend::diagnostic::Severity severity) {
  if (call.arguments.empty()) return fail(Error::InvalidApiArity);
  std::string message;
  for (std::size_t index = 0; index < call.arguments.size(); ++index) {
    const auto text = formatDeferredDiagnosticArg(run, call.arguments[index]);
    if (!text) return fail(text.error());
    if (index > 0) message += ' ';
    message += *text;
  }
  run.module.diagnostics().add(severity, call.location, message);
  return {};
}

qovrin::Result<const ApiCallStatement*> parsedCall(DeferredRunContext& run, const contracts::DeferredApiCall& call) {
  if (const auto found = run.parsed_calls.find(&call.text); found != run.parsed_calls.end()) return &found->second;
  auto parsed = frontend::parser::parseApiCall(call.text, call.location);
  if (!parsed) return fail(parsed.error());
  return &run.parsed_calls.emplace(&call.text, std::move(*parsed)).first->second;
}

qovrin::Status runApiCall(DeferredRunContext& run, const contracts::DeferredApiCall& frozen) {
  using frontend::diagnostic::Severity;
  const auto parsed = parsedCall(run, frozen);
  if (!parsed) return fail(parsed.error());
  const ApiCallStatement& call = **parsed;
  const std::string_view name = call.name;
  if (name == "store.bytes") return storeBytesCall(run, call);
  if (name == "store.u8") return storeIntegerCall(run, call, 1);
  if (name == "store.u16") return storeIntegerCall(run, call, 2);
  if (name == "store.u32") return storeIntegerCall(run, call, 4);
  if (name == "store.u64") return storeIntegerCall(run, call, 8);
  if (name == "assert") return assertCall(run, call);
  if (name == "print") return addDeferredDiagnostic(run, call, Severity::note);
  if (name == "warn") return addDeferredDiagnostic(run, call, Severity::warning);
  if (name == "err") {
    QOVRIN_TRY(addDeferredDiagnostic(run, call, Severity::error));
    return fail(Error::FrontendDiagnostics);
  }
  return fail(Error::FinalizerCannotChangeLayout);
}

qovrin::Status declare(DeferredRunContext& run, const contracts::ValueDeclaration& declaration) {
  auto value = evaluateText(run, declaration.initializer);
  if (!value) return fail(value.error());
  if (declaration.type_name) {
    const auto annotation = frontend::typecheck::annotationFromName(run.module.typeTables(), *declaration.type_name);
    if (!annotation) return fail(annotation.error());
    if (!*annotation) return fail(Error::InvalidValueDeclaration);
    QOVRIN_TRY(frontend::typecheck::coerceValueToAnnotation(run.module.types(), *value, *annotation));
  }
  return lower::context::defineLocalValue(run.context, declaration.name, std::move(*value), declaration.is_mutable);
}

qovrin::Status assign(DeferredRunContext& run, const contracts::Assignment& assignment) {
  const auto tree = parsedText(run, assignment.value);
  if (!tree) return fail(tree.error());
  // As in lowering, l = list.push(l, x) takes the list over rather than
  // copying it each round.
  auto context = evaluationContext(run);
  context.handover = lower::value_binding::localHandover(run.context, assignment.target, **tree);
  auto value = frontend::expr::evaluateValue(**tree, context);
  if (!value) return fail(value.error());
  const auto assigned = lower::context::setLocalValue(run.context, assignment.target, std::move(*value));
  if (!assigned) return fail(assigned.error());
  if (!*assigned) return fail(Error::InvalidValueDeclaration);
  return {};
}

qovrin::Status runWhile(DeferredRunContext& run, const contracts::MetaWhile& loop) {
  const bool was_in_loop = run.in_loop;
  run.in_loop = true;
  qovrin::Status status;
  for (std::uint64_t rounds = 0;; ++rounds) {
    const auto holds = conditionHolds(run, loop.condition);
    if (!holds) {
      status = fail(holds.error());
      break;
    }
    if (!*holds) break;
    if (rounds == kMaxLoopRounds) {
      status = fail(Error::MetaLoopLimitExceeded);
      break;
    }
    const auto body = runDeferredScopedStatements(run, loop.body);
    if (body || body.error() == Error::MetaLoopContinue) continue;
    if (body.error() != Error::MetaLoopBreak) status = body;
    break;
  }
  run.in_loop = was_in_loop;
  return status;
}

qovrin::Status loopSignal(DeferredRunContext& run, const frontend::SourceLocation& location, bool is_break) {
  if (run.in_loop) return fail(is_break ? Error::MetaLoopBreak : Error::MetaLoopContinue);
  return reportError(run, location,
                     is_break ? "break used outside of a Meta loop" : "continue used outside of a Meta loop");
}

qovrin::Status runStatement(DeferredRunContext& run, const contracts::DeferredStatement& statement) {
  return std::visit(
      [&run](const auto& payload) -> qovrin::Status {
        using Payload = std::decay_t<decltype(payload)>;
        if constexpr (std::is_same_v<Payload, contracts::DeferredApiCall>) {
          return runApiCall(run, payload);
        } else if constexpr (std::is_same_v<Payload, contracts::MetaIf>) {
          const auto holds = conditionHolds(run, payload.condition);
          if (!holds) return fail(holds.error());
          return runDeferredScopedStatements(run, *holds ? payload.then_statements : payload.else_statements);
        } else if constexpr (std::is_same_v<Payload, contracts::ValueDeclaration>) {
          return declare(run, payload);
        } else if constexpr (std::is_same_v<Payload, contracts::Assignment>) {
          return assign(run, payload);
        } else if constexpr (std::is_same_v<Payload, contracts::MetaWhile>) {
          return runWhile(run, payload);
        } else if constexpr (std::is_same_v<Payload, contracts::LoopBreak>) {
          return loopSignal(run, payload.location, true);
        } else {
          return loopSignal(run, payload.location, false);
        }
      },
      statement.payload);
}

qovrin::Status bindCaptures(lower::context::LowerContext& context, const contracts::DeferredBlock& block) {
  if (!block.captures) return {};
  for (const contracts::DeferredCapture& capture : *block.captures)
    QOVRIN_TRY(lower::context::defineLocalValue(context, capture.name, Value(capture.value), false));
  return {};
}

// A statement's call and trees, as the run parsed them.
StatementParts statementParts(DeferredRunContext& run, const contracts::DeferredStatement& statement) {
  StatementParts parts;
  const auto fromText = [&](const std::string& text) {
    if (const auto tree = parsedText(run, text)) parts.trees.push_back(*tree);
  };
  std::visit(
      [&](const auto& payload) {
        using Payload = std::decay_t<decltype(payload)>;
        if constexpr (std::is_same_v<Payload, contracts::DeferredApiCall>) {
          if (const auto call = parsedCall(run, payload)) {
            parts.call = *call;
            for (const ApiCallArgument& argument : (*call)->arguments)
              if (const Node* node = argument.expression()) parts.trees.push_back(node);
          }
        } else if constexpr (std::is_same_v<Payload, contracts::MetaIf> ||
                             std::is_same_v<Payload, contracts::MetaWhile>) {
          fromText(payload.condition);
        } else if constexpr (std::is_same_v<Payload, contracts::ValueDeclaration>) {
          fromText(payload.initializer);
        } else if constexpr (std::is_same_v<Payload, contracts::Assignment>) {
          fromText(payload.value);
        }
      },
      statement.payload);
  return parts;
}

}  // namespace

qovrin::Status runDeferredScopedStatements(DeferredRunContext& run,
                                           std::span<const contracts::DeferredStatement> statements) {
  if (qovrin::workStackFull()) return fail(Error::NestingTooDeep);
  const lower::context::ScopeGuard scope(run.context);
  for (const contracts::DeferredStatement& statement : statements) {
    // Memory running out is this statement's failure, told with its notes.
    qovrin::Status ran;
    try {
      ran = runStatement(run, statement);
    } catch (const std::bad_alloc&) {
      ran = fail(Error::OutOfMemory);
    }
    if (ran) continue;
    // break and continue are no failures; the loop they leave takes them.
    const bool signal = ran.error() == Error::MetaLoopBreak || ran.error() == Error::MetaLoopContinue;
    if (!signal && !run.failed_statement) {
      run.failed_statement = std::visit([](const auto& payload) { return payload.location; }, statement.payload);
      // Without memory the cause goes untold; the failure itself is what matters.
      try {
        const deferred_failure_notes::FailedRun failed{run.module, run.context, run.image, evaluationContext(run),
                                                      statementParts(run, statement)};
        run.failure_cause = deferred_failure_notes::failureCause(failed, ran.error());
      } catch (const std::bad_alloc&) {
      }
    }
    return ran;
  }
  return {};
}

qovrin::Result<std::string> formatDeferredDiagnosticArg(DeferredRunContext& run, const ApiCallArgument& argument) {
  using frontend::value::ValueKind;
  if (const auto literal = argument.string()) return std::string(*literal);
  const Node* expression = expressionArgument(argument);
  if (expression == nullptr) return fail(Error::InvalidApiArgument);
  const auto value = frontend::expr::evaluateValue(*expression, evaluationContext(run));
  if (!value) return fail(value.error());
  const auto& storage = value->storage();
  switch (value->kind()) {
    case ValueKind::void_:
      return std::string("void");
    case ValueKind::integer:
      return std::to_string(value->asInteger()->word);
    case ValueKind::float32:
      return frontend::value::formatFloat32Literal(std::get<float>(storage));
    case ValueKind::float64:
      return frontend::value::formatFloatLiteral(std::get<double>(storage));
    case ValueKind::boolean:
      return std::string(std::get<bool>(storage) ? "true" : "false");
    case ValueKind::string:
      return *value->asString();
    case ValueKind::bytes: {
      constexpr std::string_view kDigits = "0123456789abcdef";
      std::string text;
      text.reserve(value->asBytes()->size() * 2);
      for (const std::uint8_t byte : *value->asBytes()) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
      }
      return text;
    }
    case ValueKind::type:
      return "type(" + std::to_string(value->getIf<frontend::value::TypeValue>()->id) + ")";
    case ValueKind::struct_:
    case ValueKind::list:
    case ValueKind::map:
    case ValueKind::operand:
      break;
  }
  return fail(Error::InvalidApiArgument);
}

qovrin::Status runDeferredBlocks(frontend::module::Module& module,
                                 std::span<const frontend::output::image::ImageRegion> regions,
                                 std::span<std::uint8_t> bytes) {
  const std::uint32_t section = module.currentSection();
  const auto region = std::ranges::find(regions, section, &frontend::output::image::ImageRegion::section);
  if (region == regions.end()) return fail(Error::InvalidSection);

  // Nothing from lowering survives: no include callbacks, no files, no
  // scopes, functions or macros. Value functions read the finished image.
  lower::context::LowerContext context(lower::contracts::PathOptions{});
  lower::expression_bridge::bindHooks(context);
  DeferredRunContext run{module, {region->address, regions, bytes}, section, context};
  context.output_image = &run.image;
  run.hooks = context.hooks;
  run.hooks.unique_symbol = nullptr;

  for (const contracts::DeferredBlock& block : module.deferredBlocks()) {
    const std::size_t diagnostics_before = module.diagnostics().diagnostics().size();
    const BlockExpansionScope expansion(module, block.location);
    const lower::context::ScopeGuard scope(context);
    auto ran = bindCaptures(context, block);
    if (ran) ran = runDeferredScopedStatements(run, block.statements);
    if (!ran)
      return fail(blockFailure(module, {block.location, "defer", run.failed_statement, &run.failure_cause},
                               diagnostics_before, ran.error()));
  }
  return {};
}

}  // namespace assembly
