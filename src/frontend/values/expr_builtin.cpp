#include "frontend/values/expr_builtin.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "common/name_table.hpp"
#include "frontend/meta_std/meta_data.hpp"
#include "frontend/meta_std/meta_data_eval.hpp"
#include "frontend/meta_std/meta_std.hpp"

namespace frontend::expr {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

constexpr auto kOperandBuiltins = [] {
  std::array<std::string_view, kOperandBuiltinCount> names{};
  for (std::size_t index = 0; index < names.size(); ++index) names[index] = kEvaluatorBuiltins[index].name;
  return names;
}();

enum class BuiltinGroup : std::uint8_t { operand, library, data, assembler };

struct BuiltinName {
  std::string_view name;
  BuiltinGroup group = BuiltinGroup::operand;
  std::uint8_t index = 0;  // within its group's table
};

template <std::size_t Count>
constexpr void appendGroup(auto& index, std::size_t& filled, const std::array<std::string_view, Count>& names,
                           BuiltinGroup group) {
  for (std::size_t position = 0; position < Count; ++position)
    index[filled++] = BuiltinName{names[position], group, static_cast<std::uint8_t>(position)};
}

// Every builtin name sorted once at compile time, so that a call finds its
// builtin by binary search instead of scanning four tables. The groups'
// names are disjoint, so the search finds what the scans in group order
// would.
constexpr auto kBuiltinIndex = [] {
  std::array<BuiltinName, kOperandBuiltins.size() + meta_std::kBuiltinNames.size() + meta_data::kBuiltinNames.size() +
                              kAssemblerBuiltinNames.size()>
      index{};
  std::size_t filled = 0;
  appendGroup(index, filled, kOperandBuiltins, BuiltinGroup::operand);
  appendGroup(index, filled, meta_std::kBuiltinNames, BuiltinGroup::library);
  appendGroup(index, filled, meta_data::kBuiltinNames, BuiltinGroup::data);
  appendGroup(index, filled, kAssemblerBuiltinNames, BuiltinGroup::assembler);
  std::ranges::sort(index, {}, &BuiltinName::name);
  return index;
}();

static_assert(std::ranges::adjacent_find(kBuiltinIndex, {}, &BuiltinName::name) == kBuiltinIndex.end(),
              "a builtin name belongs to one group only");

const BuiltinName* findBuiltin(std::string_view name) noexcept {
  const auto found = std::ranges::lower_bound(kBuiltinIndex, name, {}, &BuiltinName::name);
  return found != kBuiltinIndex.end() && found->name == name ? &*found : nullptr;
}

// Library builtins run on values: every argument is evaluated first, left to
// right, and the first failure is the call's.
qovrin::Result<std::vector<Value>> evaluateArguments(Arguments arguments, const EvaluationContext& context) {
  std::vector<Value> values;
  values.reserve(arguments.size());
  for (const BuiltinArgument& argument : arguments) {
    auto evaluated = evaluateBuiltinValueArg(argument, context);
    if (!evaluated) return fail(evaluated.error());
    values.push_back(std::move(*evaluated));
  }
  return values;
}

// Whether the argument is nothing but the name.
bool namesOnly(const BuiltinArgument& argument, std::string_view name) noexcept {
  switch (argument.kind()) {
    case BuiltinArgument::Kind::expression:
      return argument.node().kind() == NodeKind::identifier && argument.node().text() == name;
    case BuiltinArgument::Kind::bare_name:
      return argument.text() == name;
    case BuiltinArgument::Kind::raw_text:
      break;
  }
  return false;
}

// A handover applies to its own call only, and only while the evaluation
// would read the binding it names.
bool takesHandover(const Node& call, const EvaluationContext& context) noexcept {
  const Handover& handover = context.handover;
  return &call == handover.call && handover.source != nullptr && !call.arguments().empty() &&
         namesOnly(call.arguments().front(), handover.name) &&
         std::ranges::find(context.blocked_names, handover.name) == context.blocked_names.end();
}

// The first argument is the handed-over binding's value itself; the others
// are evaluated as usual. Nothing reads the binding meanwhile, and every
// failure gives it its value back.
qovrin::Result<Value> evalTakingFirst(meta_std::MetaStdBuiltin kind, Arguments arguments,
                                      const EvaluationContext& context) {
  Value& source = *context.handover.source;
  std::vector<Value> values;
  values.reserve(arguments.size());
  values.push_back(std::exchange(source, Value()));
  for (const BuiltinArgument& argument : arguments.subspan(1)) {
    auto evaluated = evaluateBuiltinValueArg(argument, context);
    if (!evaluated) {
      source = std::move(values.front());
      return fail(evaluated.error());
    }
    values.push_back(std::move(*evaluated));
  }
  auto result = meta_std::callBuiltinChangingFirst(kind, values);
  if (!result) source = std::move(values.front());
  return result;
}

}  // namespace

bool isBuiltinName(std::string_view name) noexcept { return findBuiltin(name) != nullptr; }

bool handsBackFirstArgument(const Node& call) noexcept {
  if (call.kind() != NodeKind::builtin_call) return false;
  const BuiltinName* builtin = findBuiltin(call.text());
  return builtin != nullptr && builtin->group == BuiltinGroup::library &&
         meta_std::changesFirstArgument(static_cast<meta_std::MetaStdBuiltin>(builtin->index));
}

bool leavesNameAlone(const Node& node, std::string_view name) noexcept {
  switch (node.kind()) {
    case NodeKind::identifier:
      return node.text() != name;
    case NodeKind::field_access:
    case NodeKind::unary:
      return leavesNameAlone(node.left(), name);
    case NodeKind::binary:
      return leavesNameAlone(node.left(), name) && leavesNameAlone(node.right(), name);
    case NodeKind::builtin_call: {
      const BuiltinName* builtin = findBuiltin(node.text());
      if (builtin == nullptr || builtin->group == BuiltinGroup::operand) return false;
      return std::ranges::all_of(node.arguments(),
                                 [name](const BuiltinArgument& argument) { return leavesNameAlone(argument, name); });
    }
    default:
      return true;
  }
}

bool leavesNameAlone(const BuiltinArgument& argument, std::string_view name) noexcept {
  switch (argument.kind()) {
    case BuiltinArgument::Kind::expression:
      return leavesNameAlone(argument.node(), name);
    case BuiltinArgument::Kind::bare_name:
      return argument.text() != name;
    case BuiltinArgument::Kind::raw_text:
      break;
  }
  return false;
}

qovrin::Result<Value> evalBuiltinCall(const Node& call, const EvaluationContext& context) {
  const std::string_view name = call.text();
  // Builtin names come before value functions, so a value function can never
  // shadow one.
  if (const BuiltinName* builtin = findBuiltin(name)) {
    switch (builtin->group) {
      case BuiltinGroup::library: {
        const auto kind = static_cast<meta_std::MetaStdBuiltin>(builtin->index);
        if (takesHandover(call, context)) return evalTakingFirst(kind, call.arguments(), context);
        auto values = evaluateArguments(call.arguments(), context);
        if (!values) return fail(values.error());
        return meta_std::callBuiltin(kind, std::move(*values));
      }
      case BuiltinGroup::data: {
        auto values = evaluateArguments(call.arguments(), context);
        if (!values) return fail(values.error());
        return meta_data::evalDataBuiltin(static_cast<meta_data::MetaDataBuiltin>(builtin->index), *values,
                                          context.file_hooks);
      }
      case BuiltinGroup::assembler:
        return evalAssemblerBuiltin(static_cast<AssemblerBuiltin>(builtin->index), call.arguments(), context);
      case BuiltinGroup::operand:
        return evalOperandBuiltin(static_cast<OperandBuiltin>(builtin->index), call.arguments(), context);
    }
  }
  if (context.hooks != nullptr && context.hooks->call_value_function)
    return context.hooks->call_value_function(name, call.arguments(), context);
  return fail(Error::InvalidOperand);
}

qovrin::Result<Value> evaluateBuiltinValueArg(const BuiltinArgument& argument, const EvaluationContext& context) {
  switch (argument.kind()) {
    case BuiltinArgument::Kind::expression:
      return evaluateValue(argument.node(), context);
    case BuiltinArgument::Kind::bare_name:
      return resolveSymbolValue(context, argument.text());
    case BuiltinArgument::Kind::raw_text:
      break;
  }
  if (context.hooks == nullptr || !context.hooks->eval_struct_literal) return fail(Error::MissingEvaluationContext);
  return context.hooks->eval_struct_literal(argument.text(), context);
}

qovrin::Result<std::uint64_t> evaluateBuiltinIntegerArg(const BuiltinArgument& argument,
                                                        const EvaluationContext& context) {
  const auto evaluated = evaluateBuiltinValueArg(argument, context);
  if (!evaluated) return fail(evaluated.error());
  const auto* integer = evaluated->asInteger();
  if (integer == nullptr) return fail(Error::TypeMismatch);
  return integer->word;
}

qovrin::Result<std::string> builtinStringArg(Arguments arguments, const EvaluationContext& context) {
  if (arguments.empty()) return fail(Error::InvalidArgument);
  auto evaluated = evaluateBuiltinValueArg(arguments[0], context);
  if (!evaluated) return fail(evaluated.error());
  auto* text = evaluated->getIf<std::string>();
  if (text == nullptr) return fail(Error::TypeMismatch);
  return std::move(*text);
}

qovrin::Result<std::string_view> builtinIdentifierArg(Arguments arguments, std::size_t index) {
  if (index >= arguments.size() || arguments[index].kind() != BuiltinArgument::Kind::bare_name)
    return fail(Error::InvalidArgument);
  return std::string_view(arguments[index].text());
}

qovrin::Result<std::string> builtinLabelNameArg(Arguments arguments, const EvaluationContext& context) {
  if (arguments.empty() || arguments[0].kind() == BuiltinArgument::Kind::raw_text) return fail(Error::InvalidArgument);
  const BuiltinArgument& argument = arguments[0];
  if (argument.kind() == BuiltinArgument::Kind::expression) return builtinStringArg(arguments, context);
  auto resolved = resolveSymbolValue(context, argument.text());
  if (!resolved && resolved.error() != Error::UndefinedSymbol) return fail(resolved.error());
  if (resolved) {
    if (auto* text = resolved->getIf<std::string>()) return std::move(*text);
  }
  return std::string(argument.text());
}

std::optional<std::uint64_t> loadByteCount(std::string_view name) noexcept {
  constexpr std::array<std::string_view, 4> kLoads = {"load.u8", "load.u16", "load.u32", "load.u64"};
  const auto index = qovrin::indexOfName(kLoads, name);
  if (!index) return std::nullopt;
  return std::uint64_t{1} << *index;
}

}  // namespace frontend::expr
