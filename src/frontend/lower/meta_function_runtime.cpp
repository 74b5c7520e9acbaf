#include "frontend/lower/meta_function_runtime.hpp"

#include <algorithm>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "frontend/lower/arguments.hpp"
#include "frontend/lower/binding_reach.hpp"
#include "frontend/lower/statement_cases.hpp"
#include "frontend/lower/macro.hpp"
#include "frontend/values/typecheck.hpp"

namespace frontend::lower::meta_function_runtime {

using qovrin::Error;
using qovrin::fail;

CallFrame::CallFrame(context::LowerContext& context) noexcept : context_(context), in_loop_(context.in_loop) {}

CallFrame::~CallFrame() {
  if (!entered_) return;
  --context_.meta_call_depth;
  context_.in_loop = in_loop_;
}

qovrin::Status CallFrame::enter() noexcept {
  if (context_.meta_call_depth >= macro::kMaxMetaCallDepth) return fail(Error::MetaCallDepthExceeded);
  ++context_.meta_call_depth;
  context_.in_loop = false;
  entered_ = true;
  return {};
}

qovrin::Status coerceToTypeName(module::Module& module, value::Value& value, std::string_view type_name) {
  const auto annotation = typecheck::annotationFromName(module.typeTables(), type_name);
  if (!annotation) return fail(annotation.error());
  if (!*annotation) return fail(Error::InvalidValueDeclaration);
  return typecheck::coerceValueToAnnotation(module.types(), value, **annotation);
}

qovrin::Result<std::string> nextUniqueSymbol(context::LowerContext& context, std::string_view prefix) {
  if (context.unique_name_counter == std::numeric_limits<std::uint64_t>::max()) return fail(Error::InvalidNumber);
  std::string name(prefix);
  name += "__";
  name += std::to_string(context.unique_name_counter++);
  return name;
}

qovrin::Status defineMetaFunction(module::Module& module, context::LowerContext& context,
                                  const ast::MetaFunctionStatement& statement) {
  if (!context.scopes.empty()) return fail(Error::InvalidMetaFunction);
  if (statement.return_type) return module.metaFunctions().define(statement);
  return context.functions.define(statement);
}

qovrin::Status defineMacro(context::LowerContext& context, const ast::MetaFunctionStatement& statement) {
  if (!context.scopes.empty()) return fail(Error::InvalidMacro);
  return context.macros.add(statement);
}

}  // namespace frontend::lower::meta_function_runtime

namespace frontend::lower::root {

using meta_function_runtime::CallFrame;
using qovrin::Error;
using qovrin::fail;
using statement_cases::reportAndFail;

namespace {

// A let parameter's argument must name a binding the call can write back to.
std::optional<std::string_view> bareIdentifier(const ast::ApiCallArgument& argument) noexcept {
  if (argument.kind() != ast::ApiCallArgument::Kind::expression) return std::nullopt;
  const expr::Node& node = *argument.expression();
  if (node.kind() != expr::NodeKind::identifier) return std::nullopt;
  return std::string_view(node.text());
}

bool resolvesToLetBinding(module::Module& module, context::LowerContext& context, std::string_view name) {
  const auto local = context::lookupMutableLocalValue(context, name);
  if (local.state != context::MutableLookup::not_found) return local.state == context::MutableLookup::found;
  const symbol::Symbol* symbol = module.findSymbol(name);
  const symbol::ValueSymbol* named = symbol == nullptr ? nullptr : symbol->value();
  return named != nullptr && named->is_mutable;
}

qovrin::Status checkLetArguments(module::Module& module, context::LowerContext& context,
                                 const ast::MetaFunctionStatement& function, const ast::ApiCallStatement& call) {
  std::vector<std::string_view> bound;
  for (std::size_t index = 0; index < function.params.size(); ++index) {
    if (!function.params[index].is_mutable) continue;
    const auto name = bareIdentifier(call.arguments[index]);
    if (!name)
      return reportAndFail(module, call.location, "mutable function argument must be a direct let binding");
    if (std::ranges::find(bound, *name) != bound.end())
      return reportAndFail(module, call.location, "mutable function arguments cannot alias the same binding");
    if (!resolvesToLetBinding(module, context, *name))
      return reportAndFail(module, call.location, "mutable function argument must resolve to a let binding");
    bound.push_back(*name);
  }
  return {};
}

// The caller's binding a let argument names: the nearest local, else the
// module value (module_symbol says which).
struct CallerBinding {
  value::Value* value = nullptr;
  symbol::ValueSymbol* module_symbol = nullptr;
};

CallerBinding callerBinding(module::Module& module, context::LowerContext& context, std::string_view name) {
  if (value::Value* found = context::lookupMutableLocalValue(context, name).value) return {found, nullptr};
  symbol::Symbol* symbol = module.findSymbol(name);
  symbol::ValueSymbol* named = symbol == nullptr ? nullptr : symbol->value();
  return named == nullptr ? CallerBinding{} : CallerBinding{&named->value, named};
}

// The binding, about to change.
value::Value* writableBinding(module::Module& module, const CallerBinding& binding) {
  return binding.module_symbol != nullptr ? &module.writableValue(*binding.module_symbol) : binding.value;
}

// A let parameter holds the caller's list or map itself rather than a copy
// that shares it, so that changing it costs what the change does, when
// nothing could see the binding until the value is written back: the
// argument still holds the binding's value (no later argument assigned it)
// and the body cannot reach the binding, which a parameter of the same name
// hides from every lookup of the body's and its callees' locals. Outside a
// value function the body ends in the write-back or in a failure that ends
// lowering; inside one a return may pass through it, after which the
// caller reads its binding unchanged, so there the parameter gets a copy.
// Returns which arguments were taken.
std::vector<bool> takeUnseenBindings(module::Module& module, context::LowerContext& context,
                                     const ast::MetaFunctionStatement& function, const ast::ApiCallStatement& call,
                                     std::span<value::Value> values) {
  std::vector<bool> taken(values.size(), false);
  if (context.paths.copies_every_value || context.value_function_depth > 0) return taken;
  for (std::size_t index = 0; index < function.params.size(); ++index) {
    const ast::MetaFunctionParam& param = function.params[index];
    if (!param.is_mutable) continue;
    const std::string_view name = *bareIdentifier(call.arguments[index]);
    const CallerBinding binding = callerBinding(module, context, name);
    if (binding.value == nullptr || !value::sameCollection(*binding.value, values[index])) continue;
    const bool hidden = param.name == name;
    if (!(hidden && binding.module_symbol == nullptr) &&
        binding_reach::mayName(binding_reach::functionReach(context, module.metaFunctions(),
                                                            binding_reach::Callee::statement_function, function.name),
                               hidden ? "" : name))
      continue;
    values[index] = std::exchange(*writableBinding(module, binding), value::Value());
    taken[index] = true;
  }
  return taken;
}

// Writes each value back to the binding its let argument names.
void writeBack(module::Module& module, context::LowerContext& context, const ast::ApiCallStatement& call,
               std::span<const std::size_t> params, std::span<value::Value> values) {
  for (std::size_t slot = 0; slot < params.size(); ++slot) {
    const CallerBinding binding = callerBinding(module, context, *bareIdentifier(call.arguments[params[slot]]));
    if (binding.value != nullptr) *writableBinding(module, binding) = std::move(values[slot]);
  }
}

}  // namespace

qovrin::Status lowerMetaFunctionCall(module::Module& module, contracts::ActiveOutput& cursor,
                                     ActiveOutputStack& active_outputs, context::LowerContext& context,
                                     std::uint32_t function_index, const ast::ApiCallStatement& call) {
  const ast::MetaFunctionStatement& function = context.functions.at(function_index);
  if (call.arguments.size() != function.params.size()) return fail(Error::InvalidApiArity);
  CallFrame frame(context);
  QOVRIN_TRY(frame.enter());
  QOVRIN_TRY(checkLetArguments(module, context, function, call));

  std::vector<value::Value> values;
  values.reserve(function.params.size());
  for (std::size_t index = 0; index < function.params.size(); ++index) {
    auto argument = valueArgAtContext(module, context, cursor, call, index);
    if (!argument) return fail(argument.error());
    if (const auto& type_name = function.params[index].type_name)
      QOVRIN_TRY(meta_function_runtime::coerceToTypeName(module, *argument, *type_name));
    values.push_back(std::move(*argument));
  }
  const std::vector<bool> taken = takeUnseenBindings(module, context, function, call, values);

  // On success every let parameter's final value goes back; on a failure
  // the values taken from their bindings do, so that none is left empty.
  std::vector<std::size_t> params;
  std::vector<value::Value> results;
  qovrin::Status lowered;
  {
    const context::ScopeGuard scope(context);
    std::size_t defined = 0;
    for (; defined < values.size(); ++defined) {
      lowered = context::defineLocalValue(context, function.params[defined].name, std::move(values[defined]),
                                          function.params[defined].is_mutable, context::LocalKind::parameter);
      if (!lowered) break;
    }
    if (lowered) lowered = lowerStatementSlice(module, cursor, active_outputs, function.body, context);
    for (std::size_t index = 0; index < function.params.size(); ++index) {
      const ast::MetaFunctionParam& param = function.params[index];
      if (!param.is_mutable || (!lowered && !taken[index])) continue;
      context::MetaLocal* local = index < defined ? context.scopes.back().find(param.name) : nullptr;
      if (lowered && local == nullptr) return fail(Error::InvalidMetaFunction);
      params.push_back(index);
      results.push_back(std::move(local != nullptr ? local->value : values[index]));
    }
  }
  writeBack(module, context, call, params, results);
  return lowered;
}

}  // namespace frontend::lower::root
