#include "frontend/lower/diagnostic_format.hpp"

#include <cstdint>
#include <variant>

#include "frontend/lower/arguments.hpp"
#include "frontend/lower/expression_bridge.hpp"

namespace frontend::lower::diagnostic_format {

namespace {

template <typename Character>
void appendQuoted(std::string& out, std::span<const Character> text) {
  out.push_back('"');
  for (const Character c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(static_cast<char>(c));
  }
  out.push_back('"');
}

}  // namespace

std::string formatStringLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  appendQuoted(out, std::span<const char>(text.data(), text.size()));
  return out;
}

std::string formatBytesValue(std::span<const std::uint8_t> bytes) {
  std::string out = "b";
  out.reserve(bytes.size() + 3);
  appendQuoted(out, bytes);
  return out;
}

void appendValueText(std::string& out, const value::Value& value) {
  using value::ValueKind;
  const auto& storage = value.storage();
  switch (value.kind()) {
    case ValueKind::void_:
      out += "void";
      return;
    case ValueKind::integer:
      out += std::to_string(value.asInteger()->word);
      return;
    case ValueKind::float32:
      value::appendFloatLiteral(out, std::get<float>(storage));
      return;
    case ValueKind::float64:
      value::appendFloatLiteral(out, std::get<double>(storage));
      return;
    case ValueKind::boolean:
      out += std::get<bool>(storage) ? "true" : "false";
      return;
    case ValueKind::string:
      out += *value.asString();
      return;
    case ValueKind::bytes:
      out += formatBytesValue(*value.asBytes());
      return;
    case ValueKind::type:
      out += "type#";
      out += std::to_string(std::get<value::TypeValue>(storage).id);
      return;
    case ValueKind::struct_:
      out += "struct#";
      out += std::to_string(value.asStruct()->typeId());
      return;
    case ValueKind::list:
      out += "list#";
      out += std::to_string(value.asList()->size());
      return;
    case ValueKind::map:
      out += "map#";
      out += std::to_string(value.asMap()->size());
      return;
    case ValueKind::operand:
      out += value.asOperand()->text();
      return;
  }
}

qovrin::Status appendDiagnosticArgument(std::string& out, module::Module& module, context::LowerContext& context,
                                        const contracts::ActiveOutput& cursor, const ast::ApiCallArgument& argument) {
  if (const auto text = argument.string()) {
    out += *text;
    return {};
  }
  const auto* expression = argument.expression();
  if (expression == nullptr) return qovrin::fail(qovrin::Error::InvalidApiArgument);
  const auto value = root::evalValueAtContext(module, context, cursor, *expression);
  if (!value) return qovrin::fail(value.error());
  appendValueText(out, *value);
  return {};
}

}  // namespace frontend::lower::diagnostic_format

namespace frontend::lower::root {

using qovrin::Error;
using qovrin::fail;

qovrin::Status lowerDiagnosticCall(module::Module& module, context::LowerContext& context,
                                   const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                   diagnostic::Severity severity) {
  if (call.arguments.empty()) return fail(Error::InvalidApiArity);
  std::string message;
  for (const ast::ApiCallArgument& argument : call.arguments) {
    if (&argument != &call.arguments.front()) message += ' ';
    QOVRIN_TRY(diagnostic_format::appendDiagnosticArgument(message, module, context, cursor, argument));
  }
  module.diagnostics().add(severity, call.location, message);
  return {};
}

qovrin::Status lowerAssertCall(module::Module& module, context::LowerContext& context,
                               const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call) {
  if (call.arguments.empty() || call.arguments.size() > 2) return fail(Error::InvalidApiArity);
  const auto condition = valueArgAtContext(module, context, cursor, call, 0);
  if (!condition) return fail(condition.error());
  const auto* truth = condition->getIf<bool>();
  if (truth == nullptr) return fail(Error::InvalidApiArgument);
  if (*truth) return {};
  std::string message;
  if (call.arguments.size() == 2)
    QOVRIN_TRY(diagnostic_format::appendDiagnosticArgument(message, module, context, cursor, call.arguments[1]));
  else
    message = "assertion failed";
  module.diagnostics().add(diagnostic::Severity::error, call.location, message);
  return fail(Error::FrontendDiagnostics);
}

}  // namespace frontend::lower::root
