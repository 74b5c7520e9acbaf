#include "frontend/lower/collection_mutation.hpp"

#include <string_view>

#include "frontend/lower/arguments.hpp"

namespace frontend::lower::collection_mutation {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

qovrin::Status refuse(module::Module& module, const ast::ApiCallStatement& call, std::string_view message) {
  module.diagnostics().add(diagnostic::Severity::error, call.location, message);
  return fail(Error::FrontendDiagnostics);
}

template <typename T>
qovrin::Result<T> refused(module::Module& module, const ast::ApiCallStatement& call, std::string_view message) {
  return fail(refuse(module, call, message).error());
}

// The target, which must hold a value of the wanted kind.
template <typename Collection>
qovrin::Result<Collection*> collectionTarget(module::Module& module, context::LowerContext& context,
                                             const ast::ApiCallStatement& call, std::string_view kind_message) {
  const auto target = mutableTarget(module, context, call);
  if (!target) return fail(target.error());
  auto* collection = (*target)->getIf<Collection>();
  if (collection == nullptr) return refused<Collection*>(module, call, kind_message);
  return collection;
}

qovrin::Status pushMut(module::Module& module, context::LowerContext& context, const contracts::ActiveOutput& cursor,
                       const ast::ApiCallStatement& call) {
  auto item = root::valueArgAtContext(module, context, cursor, call, 1);
  if (!item) return fail(item.error());
  const auto list =
      collectionTarget<value::ListValue>(module, context, call, "list.push_mut target must have type list");
  if (!list) return fail(list.error());
  return (*list)->push(std::move(*item));
}

qovrin::Status setMut(module::Module& module, context::LowerContext& context, const contracts::ActiveOutput& cursor,
                      const ast::ApiCallStatement& call) {
  const auto index = root::valueArgAtContext(module, context, cursor, call, 1);
  if (!index) return fail(index.error());
  const auto* position = index->asInteger();
  if (position == nullptr) return refuse(module, call, "list.set_mut index must have type integer");
  auto item = root::valueArgAtContext(module, context, cursor, call, 2);
  if (!item) return fail(item.error());
  const auto list =
      collectionTarget<value::ListValue>(module, context, call, "list.set_mut target must have type list");
  if (!list) return fail(list.error());
  if (position->word >= (*list)->size()) return refuse(module, call, "list.set_mut index is outside the target list");
  return (*list)->set(position->word, std::move(*item));
}

qovrin::Status mapSetMut(module::Module& module, context::LowerContext& context, const contracts::ActiveOutput& cursor,
                         const ast::ApiCallStatement& call) {
  const auto key = root::valueArgAtContext(module, context, cursor, call, 1);
  if (!key) return fail(key.error());
  const auto* text = key->asString();
  if (text == nullptr) return refuse(module, call, "map.set_mut key must have type string");
  auto item = root::valueArgAtContext(module, context, cursor, call, 2);
  if (!item) return fail(item.error());
  const auto map = collectionTarget<value::MapValue>(module, context, call, "map.set_mut target must have type map");
  if (!map) return fail(map.error());
  const auto stored = (*map)->set(*text, std::move(*item));
  if (!stored && stored.error() == Error::CollectionTooLarge)
    return refuse(module, call, "map.set_mut target is too large");
  return stored;
}

}  // namespace

qovrin::Result<Value*> mutableTarget(module::Module& module, context::LowerContext& context,
                                     const ast::ApiCallStatement& call) {
  const auto* tree = call.arguments.empty() ? nullptr : call.arguments.front().expression();
  if (tree == nullptr || tree->kind() != expr::NodeKind::identifier)
    return refused<Value*>(module, call, "collection mutation target must be a direct let binding");
  const std::string_view name = tree->text();
  const auto local = context::lookupMutableLocalValue(context, name);
  if (local.state == context::MutableLookup::found) return local.value;
  if (local.state == context::MutableLookup::immutable)
    return refused<Value*>(module, call, "cannot mutate a const collection binding");
  if (context.value_function_depth > 0)
    return refused<Value*>(module, call, "collection mutation target must resolve to a local let binding");
  symbol::Symbol* symbol = module.findSymbol(name);
  symbol::ValueSymbol* bound = symbol == nullptr ? nullptr : symbol->value();
  if (bound == nullptr)
    return refused<Value*>(module, call, "collection mutation target must resolve to a let binding");
  if (!bound->is_mutable) return refused<Value*>(module, call, "cannot mutate a const collection binding");
  return &module.writableValue(*bound);
}

qovrin::Status lowerCollectionMutation(module::Module& module, context::LowerContext& context,
                                       const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call) {
  const bool push = call.name == "list.push_mut";
  if (call.arguments.size() != (push ? 2u : 3u))
    return refuse(module, call, "invalid collection mutation argument count");
  if (push) return pushMut(module, context, cursor, call);
  if (call.name == "list.set_mut") return setMut(module, context, cursor, call);
  return mapSetMut(module, context, cursor, call);
}

}  // namespace frontend::lower::collection_mutation
