// List and map builtins. Collections are values: a builtin that alters one
// returns a changed copy and leaves its argument as it was. The copy shares
// the argument's storage, so an append costs what it adds.

#include "frontend/meta_std/meta_std.hpp"
#include "frontend/meta_std/meta_std_arguments.hpp"

namespace frontend::meta_std {

using qovrin::Error;
using qovrin::fail;
using value::ListValue;
using value::MapValue;
using value::Value;

namespace {

// The list with copies of the items after its own.
qovrin::Result<Value> appended(const ListValue& list, std::span<const Value> items) {
  ListValue result = list;
  QOVRIN_TRY(result.append(items));
  return Value(std::move(result));
}

struct ListIndex {
  const ListValue& list;
  std::uint64_t index;
};

// A list and an index below its length.
qovrin::Result<ListIndex> listAndIndex(Arguments arguments) {
  const auto list = argumentAs<ListValue>(arguments[0]);
  if (!list) return fail(list.error());
  const auto index = integerArgument(arguments[1]);
  if (!index) return fail(index.error());
  if (*index >= (*list)->size()) return fail(Error::InvalidArgument);
  return ListIndex{**list, *index};
}

struct MapKey {
  const MapValue& map;
  const std::string& key;
};

qovrin::Result<MapKey> mapAndKey(Arguments arguments) {
  const auto map = argumentAs<MapValue>(arguments[0]);
  if (!map) return fail(map.error());
  const auto key = argumentAs<std::string>(arguments[1]);
  if (!key) return fail(key.error());
  return MapKey{**map, **key};
}

template <typename T>
qovrin::Result<Value> equalPair(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  QOVRIN_TRY(argumentAs<T>(arguments[0]));
  QOVRIN_TRY(argumentAs<T>(arguments[1]));
  return Value::boolean(value::valuesEqual(arguments[0], arguments[1]));
}

// The keys (as strings) or the values of a map's entries, in entry order.
qovrin::Result<Value> mapColumn(Arguments arguments, bool keys) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const auto map = argumentAs<MapValue>(arguments[0]);
  if (!map) return fail(map.error());
  std::vector<Value> items;
  items.reserve((*map)->size());
  for (const value::MapEntry& entry : (*map)->entries()) items.push_back(keys ? Value::string(entry.key) : entry.value);
  return listOf(std::move(items));
}

}  // namespace

qovrin::Result<Value> evalListPush(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto list = argumentAs<ListValue>(arguments[0]);
  if (!list) return fail(list.error());
  return appended(**list, arguments.subspan(1));
}

qovrin::Result<Value> evalListConcat(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto first = argumentAs<ListValue>(arguments[0]);
  if (!first) return fail(first.error());
  const auto second = argumentAs<ListValue>(arguments[1]);
  if (!second) return fail(second.error());
  return appended(**first, (*second)->items());
}

qovrin::Result<Value> evalListGet(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto at = listAndIndex(arguments);
  if (!at) return fail(at.error());
  return Value(at->list[at->index]);
}

qovrin::Result<Value> evalListSet(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 3));
  const auto at = listAndIndex(arguments);
  if (!at) return fail(at.error());
  ListValue copy = at->list;
  QOVRIN_TRY(copy.set(at->index, Value(arguments[2])));
  return Value(std::move(copy));
}

qovrin::Result<Value> evalListSlice(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 3));
  const auto list = argumentAs<ListValue>(arguments[0]);
  if (!list) return fail(list.error());
  const auto start = integerArgument(arguments[1]);
  if (!start) return fail(start.error());
  const auto count = integerArgument(arguments[2]);
  if (!count) return fail(count.error());
  std::uint64_t end = 0;
  if (__builtin_add_overflow(*start, *count, &end) || end > (*list)->size()) return fail(Error::InvalidArgument);
  return appended(ListValue(), (*list)->items().subspan(*start, *count));
}

qovrin::Result<Value> evalListEq(Arguments arguments) { return equalPair<ListValue>(arguments); }

qovrin::Result<Value> evalMapSet(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 3));
  const auto target = mapAndKey(arguments);
  if (!target) return fail(target.error());
  MapValue copy = target->map;
  if (const auto stored = copy.setCloned(target->key, arguments[2]); !stored)
    return fail(stored.error() == Error::CollectionTooLarge ? Error::OutputTooLarge : stored.error());
  return Value(std::move(copy));
}

qovrin::Result<Value> evalMapHas(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto target = mapAndKey(arguments);
  if (!target) return fail(target.error());
  return Value::boolean(target->map.find(target->key) != nullptr);
}

qovrin::Result<Value> evalMapGet(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto target = mapAndKey(arguments);
  if (!target) return fail(target.error());
  const Value* found = target->map.find(target->key);
  if (found == nullptr) return fail(Error::InvalidArgument);
  return Value(*found);
}

qovrin::Result<Value> evalMapGetOr(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 3));
  const auto target = mapAndKey(arguments);
  if (!target) return fail(target.error());
  const Value* found = target->map.find(target->key);
  return Value(found != nullptr ? *found : arguments[2]);
}

qovrin::Result<Value> evalMapKeys(Arguments arguments) { return mapColumn(arguments, true); }

qovrin::Result<Value> evalMapValues(Arguments arguments) { return mapColumn(arguments, false); }

qovrin::Result<Value> evalMapEq(Arguments arguments) { return equalPair<MapValue>(arguments); }

bool changesFirstArgument(MetaStdBuiltin kind) noexcept {
  return kind == MetaStdBuiltin::list_set || kind == MetaStdBuiltin::map_set || kind == MetaStdBuiltin::sym_join;
}

// The checks are those of the copying forms, in their order; each change
// takes its value only when it succeeds, so a failure leaves the first
// argument whole.
qovrin::Result<Value> callBuiltinChangingFirst(MetaStdBuiltin kind, std::vector<Value>& arguments) {
  switch (kind) {
    case MetaStdBuiltin::list_set: {
      QOVRIN_TRY(expectCount(arguments, 3));
      const auto at = listAndIndex(arguments);
      if (!at) return fail(at.error());
      QOVRIN_TRY(arguments[0].asList()->set(at->index, std::move(arguments[2])));
      return std::move(arguments[0]);
    }
    case MetaStdBuiltin::map_set: {
      QOVRIN_TRY(expectCount(arguments, 3));
      const auto target = mapAndKey(arguments);
      if (!target) return fail(target.error());
      if (const auto stored = arguments[0].asMap()->set(target->key, std::move(arguments[2])); !stored)
        return fail(stored.error() == Error::CollectionTooLarge ? Error::OutputTooLarge : stored.error());
      return std::move(arguments[0]);
    }
    case MetaStdBuiltin::sym_join:
      return joinOntoFirst(arguments);
    default:
      return callBuiltin(kind, Arguments(arguments));
  }
}

}  // namespace frontend::meta_std
