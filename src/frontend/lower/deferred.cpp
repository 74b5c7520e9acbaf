#include "frontend/lower/deferred.hpp"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "common/ascii.hpp"
#include "frontend/lower/diagnostic_format.hpp"
#include "frontend/lower/expression_bridge.hpp"

namespace frontend::lower::deferred {

using output::contracts::DeferredStatement;
using output::contracts::DeferredStatementList;
using qovrin::Error;
using qovrin::fail;

namespace {

// Indexed by BinaryOperator.
constexpr std::array<std::string_view, 18> kBinaryOperators = {
    "||", "&&", "==", "!=", "<", "<=", ">", ">=", "+", "-", "*", "/", "%", "<<", ">>", "&", "|", "^",
};

// Indexed by UnaryOperator.
constexpr std::array<std::string_view, 4> kUnaryOperators = {"+", "-", "~", "!"};

// A name, frozen: names the block declared stay, meta locals become their
// values, everything else (labels, module values) is read when the block runs.
qovrin::Status renderName(std::string& out, Freezer* freezer, std::string_view name) {
  if (freezer != nullptr && std::ranges::find(freezer->declared, name) == freezer->declared.end()) {
    if (const value::Value* local = context::lookupLocalValue(freezer->context, name)) {
      auto text = renderFrozenLocal(*freezer, name, *local);
      if (!text) return fail(text.error());
      out += *text;
      return {};
    }
  }
  out += name;
  return {};
}

qovrin::Status renderChain(std::string& out, const expr::LeftChain& chain, Freezer* freezer);

// Without a freezer the text is only rendered; with one, every child is frozen.
qovrin::Status render(std::string& out, const expr::Node& node, Freezer* freezer) {
  using expr::NodeKind;
  switch (node.kind()) {
    case NodeKind::integer:
      out += std::to_string(node.integer());
      return {};
    case NodeKind::float64:
      value::appendFloatLiteral(out, node.number());
      return {};
    case NodeKind::boolean:
      out += node.boolean() ? "true" : "false";
      return {};
    case NodeKind::string:
      out += diagnostic_format::formatStringLiteral(node.text());
      return {};
    case NodeKind::bytes:
      out += diagnostic_format::formatBytesValue(
          std::span(reinterpret_cast<const std::uint8_t*>(node.text().data()), node.text().size()));
      return {};
    case NodeKind::identifier:
      return renderName(out, freezer, node.text());
    case NodeKind::field_access:
      QOVRIN_TRY(render(out, node.left(), freezer));
      out += '.';
      out += node.text();
      return {};
    case NodeKind::builtin_call: {
      if (freezer != nullptr && freezer->context.here && node.text() == "here" && node.arguments().empty()) {
        out += std::to_string(*freezer->context.here);
        return {};
      }
      out += node.text();
      out += '(';
      bool first = true;
      for (const expr::BuiltinArgument& argument : node.arguments()) {
        if (!first) out += ", ";
        first = false;
        switch (argument.kind()) {
          case expr::BuiltinArgument::Kind::expression:
            QOVRIN_TRY(render(out, argument.node(), freezer));
            break;
          case expr::BuiltinArgument::Kind::bare_name:
            QOVRIN_TRY(renderName(out, freezer, argument.text()));
            break;
          case expr::BuiltinArgument::Kind::raw_text:
            out += argument.text();
            break;
        }
      }
      out += ')';
      return {};
    }
    case NodeKind::unary:
      out += '(';
      out += kUnaryOperators[static_cast<std::size_t>(node.unaryOperator())];
      QOVRIN_TRY(render(out, node.left(), freezer));
      out += ')';
      return {};
    case NodeKind::binary:
      return renderChain(out, expr::LeftChain(node), freezer);
  }
  return {};
}

// An operation in parentheses. Down its left chain, a link of the level of
// the one above it reads back the same without its own, so a long sum
// renders as (1 + 2 + ... + n) and parses again within the nesting limits.
qovrin::Status renderChain(std::string& out, const expr::LeftChain& chain, Freezer* freezer) {
  const auto enclosed = [&chain](std::size_t index) {
    return index + 1 == chain.size() || expr::bindingLevel(chain.link(index).binaryOperator()) !=
                                            expr::bindingLevel(chain.link(index + 1).binaryOperator());
  };
  for (std::size_t index = chain.size(); index-- > 0;)
    if (enclosed(index)) out += '(';
  QOVRIN_TRY(render(out, chain.first(), freezer));
  for (std::size_t index = 0; index < chain.size(); ++index) {
    const expr::Node& link = chain.link(index);
    out += ' ';
    out += kBinaryOperators[static_cast<std::size_t>(link.binaryOperator())];
    out += ' ';
    QOVRIN_TRY(render(out, link.right(), freezer));
    if (enclosed(index)) out += ')';
  }
  return {};
}

qovrin::Result<std::string> renderValue(Freezer* freezer, const ast::StructLiteralValue& value) {
  if (ast::isStructLiteral(value)) return fail(Error::InvalidApiArgument);
  std::string out;
  QOVRIN_TRY(render(out, ast::expressionOf(value), freezer));
  return out;
}

// An if or while condition: parsed and frozen, or kept as written.
qovrin::Result<std::string> conditionText(Freezer* freezer, std::string_view text) {
  if (freezer == nullptr) return std::string(text);
  const auto tree = expr::parseOwned(qovrin::trim(text, " \t\r\n"));
  if (!tree) return fail(expression_bridge::mapExpressionError(tree.error()));
  std::string out;
  QOVRIN_TRY(render(out, *tree, freezer));
  return out;
}

qovrin::Result<DeferredStatementList> copySlice(Freezer* freezer, std::span<const ast::Statement> statements,
                                                AllowedApi allowed);

qovrin::Result<DeferredStatement> copyStatement(Freezer* freezer, const ast::Statement& statement, AllowedApi allowed) {
  namespace out = output::contracts;
  using ast::StatementKind;
  const auto& payload = statement.payload;
  switch (statement.kind()) {
    case StatementKind::value_declaration: {
      const auto& declaration = std::get<ast::ValueDeclarationStatement>(payload);
      auto initializer = renderValue(freezer, declaration.initializer);
      if (!initializer) return fail(initializer.error());
      if (freezer != nullptr) freezer->declared.push_back(declaration.name);
      return DeferredStatement{out::ValueDeclaration{declaration.name, declaration.type_name, std::move(*initializer),
                                                     declaration.location, declaration.is_mutable}};
    }
    case StatementKind::assignment: {
      const auto& assignment = std::get<ast::AssignmentStatement>(payload);
      auto value = renderValue(freezer, assignment.value);
      if (!value) return fail(value.error());
      return DeferredStatement{out::Assignment{assignment.target, std::move(*value), assignment.location}};
    }
    case StatementKind::api_call: {
      const auto& call = std::get<ast::ApiCallStatement>(payload);
      if (!allowed(call.name)) return fail(Error::FinalizerCannotChangeLayout);
      if (freezer == nullptr) return DeferredStatement{out::DeferredApiCall{call.call_text, call.location}};
      auto text = freezeApiCallText(*freezer, call);
      if (!text) return fail(text.error());
      return DeferredStatement{out::DeferredApiCall{std::move(*text), call.location}};
    }
    case StatementKind::meta_if: {
      const auto& branch = std::get<ast::MetaIfStatement>(payload);
      auto condition = conditionText(freezer, branch.condition);
      if (!condition) return fail(condition.error());
      auto then_statements = copySlice(freezer, branch.then_statements, allowed);
      if (!then_statements) return fail(then_statements.error());
      auto else_statements = copySlice(freezer, branch.else_statements, allowed);
      if (!else_statements) return fail(else_statements.error());
      return DeferredStatement{
          out::MetaIf{std::move(*condition), std::move(*then_statements), std::move(*else_statements), branch.location}};
    }
    case StatementKind::meta_while: {
      const auto& loop = std::get<ast::MetaWhileStatement>(payload);
      auto condition = conditionText(freezer, loop.condition);
      if (!condition) return fail(condition.error());
      auto body = copySlice(freezer, loop.body, allowed);
      if (!body) return fail(body.error());
      return DeferredStatement{out::MetaWhile{std::move(*condition), std::move(*body), loop.location}};
    }
    case StatementKind::break_loop:
      return DeferredStatement{out::LoopBreak{statement.location()}};
    case StatementKind::continue_loop:
      return DeferredStatement{out::LoopContinue{statement.location()}};
    default:
      return fail(Error::FinalizerCannotChangeLayout);
  }
}

qovrin::Result<DeferredStatementList> copySlice(Freezer* freezer, std::span<const ast::Statement> statements,
                                                AllowedApi allowed) {
  // Names declared inside a body do not reach past it.
  const std::size_t declared = freezer != nullptr ? freezer->declared.size() : 0;
  DeferredStatementList list;
  list.reserve(statements.size());
  qovrin::Status status;
  for (const ast::Statement& statement : statements) {
    auto copied = copyStatement(freezer, statement, allowed);
    if (!copied) {
      status = fail(copied.error());
      break;
    }
    list.push_back(std::move(*copied));
  }
  if (freezer != nullptr) freezer->declared.resize(declared);
  if (!status) return fail(status.error());
  return list;
}

}  // namespace

std::string renderExpressionSource(const expr::Node& node) {
  std::string out;
  // Without a freezer nothing can fail.
  (void)render(out, node, nullptr);
  return out;
}

qovrin::Result<std::string> renderFrozenExpression(Freezer& freezer, const expr::Node& node) {
  std::string out;
  QOVRIN_TRY(render(out, node, &freezer));
  return out;
}

qovrin::Result<std::string> renderFrozenLocal(Freezer& freezer, std::string_view name, const value::Value& value) {
  using value::ValueKind;
  const auto& storage = value.storage();
  switch (value.kind()) {
    case ValueKind::integer:
      return std::to_string(value.asInteger()->word);
    case ValueKind::float32:
      return value::formatFloat32Literal(std::get<float>(storage));
    case ValueKind::float64:
      return value::formatFloatLiteral(std::get<double>(storage));
    case ValueKind::boolean:
      return std::string(std::get<bool>(storage) ? "true" : "false");
    case ValueKind::string:
      return diagnostic_format::formatStringLiteral(*value.asString());
    case ValueKind::bytes:
      return diagnostic_format::formatBytesValue(*value.asBytes());
    case ValueKind::void_:
      return fail(Error::InvalidApiArgument);
    case ValueKind::type:
    case ValueKind::struct_:
    case ValueKind::list:
    case ValueKind::map:
    case ValueKind::operand:
      break;
  }
  if (freezer.captures == nullptr) return fail(Error::InvalidApiArgument);
  auto& captures = *freezer.captures;
  const bool known = std::ranges::any_of(
      captures, [&](const output::contracts::DeferredCapture& capture) { return capture.name == name; });
  if (!known) captures.push_back({std::string(name), value});
  return std::string(name);
}

qovrin::Result<std::string> freezeApiCallText(Freezer& freezer, const ast::ApiCallStatement& call) {
  std::string out = call.name;
  out += '(';
  bool first = true;
  for (const ast::ApiCallArgument& argument : call.arguments) {
    if (!first) out += ", ";
    first = false;
    switch (argument.kind()) {
      case ast::ApiCallArgument::Kind::expression:
        QOVRIN_TRY(render(out, *argument.expression(), &freezer));
        break;
      case ast::ApiCallArgument::Kind::string:
        out += diagnostic_format::formatStringLiteral(*argument.string());
        break;
      case ast::ApiCallArgument::Kind::struct_literal:
        return fail(Error::InvalidApiArgument);
    }
  }
  out += ')';
  return out;
}

qovrin::Result<DeferredStatementList> freezeStatementSlice(Freezer& freezer, std::span<const ast::Statement> statements,
                                                           AllowedApi allowed) {
  return copySlice(&freezer, statements, allowed);
}

qovrin::Result<DeferredStatementList> cloneStatementSlice(std::span<const ast::Statement> statements,
                                                          AllowedApi allowed) {
  return copySlice(nullptr, statements, allowed);
}

}  // namespace frontend::lower::deferred
