#include "frontend/values/value.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/error_of.hpp"

using qovrin::testing::errorOf;

namespace {

using frontend::value::BytesValue;
using frontend::value::kMaxNestingDepth;
using frontend::value::ListValue;
using frontend::value::MapValue;
using frontend::value::OperandEnvironment;
using frontend::value::OperandPiece;
using frontend::value::OperandValue;
using frontend::value::StructValue;
using frontend::value::StructValueField;
using frontend::value::Value;
using frontend::value::valuesEqual;
using qovrin::Error;

template <typename Container>
Value made(qovrin::Result<Container> result) {
  EXPECT_TRUE(result);
  return Value(std::move(*result));
}

Value list(std::vector<Value> items) { return made(ListValue::make(std::move(items))); }

Value operand(std::vector<OperandPiece> pieces) { return made(OperandValue::make(std::move(pieces))); }

Value map(std::vector<std::pair<std::string, Value>> entries) {
  MapValue result;
  for (auto& [key, value] : entries) EXPECT_TRUE(result.set(key, std::move(value)));
  return Value(std::move(result));
}

Value structure(std::uint32_t type_id, std::vector<std::pair<std::string, Value>> fields) {
  std::vector<StructValueField> built;
  for (auto& [name, value] : fields) built.push_back(StructValueField{name, std::move(value)});
  return made(StructValue::make(type_id, std::move(built)));
}

std::shared_ptr<const OperandEnvironment> environment(std::uint64_t capture_depth) {
  auto shared = std::make_shared<OperandEnvironment>();
  shared->capture_depth = capture_depth;
  return shared;
}

// Lists and maps alternating `levels` deep around an integer.
Value nested(std::uint32_t levels) {
  Value value = Value::integer(7);
  for (std::uint32_t level = 0; level < levels; ++level) {
    if (level % 2 == 0) {
      ListValue wrapper;
      EXPECT_TRUE(wrapper.push(std::move(value)));
      value = Value(std::move(wrapper));
    } else {
      MapValue wrapper;
      EXPECT_TRUE(wrapper.set("k", std::move(value)));
      value = Value(std::move(wrapper));
    }
  }
  return value;
}

TEST(Value, KindsFollowTagOrder) {
  const std::pair<Value, std::string_view> cases[] = {
      {Value(), "void"},
      {Value::integer(1), "integer"},
      {Value::float32(1.0f), "float32"},
      {Value::float64(1.0), "float64"},
      {Value::boolean(true), "boolean"},
      {Value::string("a"), "string"},
      {Value::bytes({1}), "bytes"},
      {Value::type(3), "type"},
      {structure(1, {}), "struct"},
      {list({}), "list"},
      {map({}), "map"},
      {operand({{"x", environment(1)}}), "operand"},
  };
  std::size_t tag = 0;
  for (const auto& [value, name] : cases) {
    EXPECT_EQ(static_cast<std::size_t>(value.kind()), tag++) << name;
    EXPECT_EQ(frontend::value::kindName(value.kind()), name);
  }
}

TEST(Value, EqualityMatrix) {
  const auto first = environment(1);
  const auto second = environment(1);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Value one = Value::integer(1);
  const Value two = Value::integer(2);
  const std::tuple<const char*, Value, Value, bool> cases[] = {
      {"void", Value(), Value(), true},
      {"integer type id ignored", Value::integer(5, 2), Value::integer(5), true},
      {"integers differ", one, two, false},
      {"integer vs float", one, Value::float64(1.0), false},
      {"float32 vs float64", Value::float32(1.0f), Value::float64(1.0), false},
      {"nan", Value::float64(nan), Value::float64(nan), false},
      {"nan float32", Value::float32(std::nanf("")), Value::float32(std::nanf("")), false},
      {"signed zeros", Value::float64(0.0), Value::float64(-0.0), true},
      {"signed zeros float32", Value::float32(0.0f), Value::float32(-0.0f), true},
      {"booleans differ", Value::boolean(true), Value::boolean(false), false},
      {"string vs bytes", Value::string("ab"), Value::bytes({'a', 'b'}), false},
      {"strings case", Value::string("ab"), Value::string("AB"), false},
      {"bytes length", Value::bytes({1, 2}), Value::bytes({1}), false},
      {"types differ", Value::type(4), Value::type(5), false},
      {"type vs integer", Value::type(4), Value::integer(4), false},
      {"lists", list({one, Value::string("x")}), list({one, Value::string("x")}), true},
      {"list order", list({one, two}), list({two, one}), false},
      {"list length", list({one}), list({one, one}), false},
      {"maps reordered", map({{"a", one}, {"b", two}}), map({{"b", two}, {"a", one}}), true},
      {"map values differ", map({{"a", one}}), map({{"a", two}}), false},
      {"map keys differ", map({{"a", one}}), map({{"b", one}}), false},
      {"map sizes differ", map({{"a", one}}), map({{"a", one}, {"b", Value()}}), false},
      {"structs", structure(1, {{"a", one}, {"b", two}}), structure(1, {{"a", one}, {"b", two}}), true},
      {"structs reordered", structure(1, {{"a", one}, {"b", two}}), structure(1, {{"b", two}, {"a", one}}), false},
      {"struct types differ", structure(1, {{"a", one}}), structure(2, {{"a", one}}), false},
      {"nested", list({map({{"k", list({Value::float64(-0.0)})}})}), list({map({{"k", list({Value::float64(0.0)})}})}),
       true},
      {"operands same environment", operand({{"a", first}, {"b", first}}), operand({{"a", first}, {"b", first}}), true},
      {"operands other environment", operand({{"a", first}}), operand({{"a", second}}), false},
      {"operand texts differ", operand({{"a", first}}), operand({{"b", first}}), false},
      {"operand piece split", operand({{"ab", first}}), operand({{"a", first}, {"b", first}}), false},
  };
  for (const auto& [name, left, right, equal] : cases) {
    EXPECT_EQ(valuesEqual(left, right), equal) << name;
    EXPECT_EQ(valuesEqual(right, left), equal) << name << " (swapped)";
  }
}

TEST(Value, CopyIsDeep) {
  const Value original = list({Value::string("x"), map({{"k", Value::bytes({1, 2})}})});
  Value copy = original;
  ASSERT_TRUE(copy.asList()->set(0, Value::string("changed")));
  EXPECT_EQ(*original.asList()->items()[0].asString(), "x");
}

Value integers(std::vector<std::uint64_t> words) {
  std::vector<Value> items;
  for (const std::uint64_t word : words) items.push_back(Value::integer(word));
  return list(std::move(items));
}

// Copies share their storage until one of them is written; a write never
// shows through another copy.
TEST(SharedValues, CopiesShareUntilAWrite) {
  const Value original_list = integers({1, 2, 3});
  Value list_copy = original_list;
  EXPECT_TRUE(list_copy.asList()->sharesStorageWith(*original_list.asList()));
  ASSERT_TRUE(list_copy.asList()->set(0, Value::integer(9)));
  EXPECT_FALSE(list_copy.asList()->sharesStorageWith(*original_list.asList()));
  EXPECT_TRUE(valuesEqual(original_list, integers({1, 2, 3})));

  const Value original_map = map({{"a", Value::integer(1)}});
  Value map_copy = original_map;
  EXPECT_TRUE(map_copy.asMap()->sharesStorageWith(*original_map.asMap()));
  ASSERT_TRUE(map_copy.asMap()->set("a", Value::integer(2)));
  ASSERT_TRUE(map_copy.asMap()->set("b", Value::integer(3)));
  EXPECT_TRUE(valuesEqual(original_map, map({{"a", Value::integer(1)}})));

  const Value original_bytes = Value::bytes({1, 2});
  Value bytes_copy = original_bytes;
  EXPECT_TRUE(bytes_copy.asBytes()->sharesStorageWith(*original_bytes.asBytes()));
  const std::uint8_t more[] = {3};
  bytes_copy.asBytes()->append(more);
  EXPECT_TRUE(valuesEqual(original_bytes, Value::bytes({1, 2})));
  EXPECT_TRUE(valuesEqual(bytes_copy, Value::bytes({1, 2, 3})));
}

// An append goes into the shared storage while no other holder appended past
// the list's end; the holders that read less never see it.
TEST(SharedValues, AppendsPastEveryReaderShareTheStorage) {
  Value first = integers({1, 2});
  Value second = first;
  ASSERT_TRUE(second.asList()->push(Value::integer(3)));
  EXPECT_TRUE(second.asList()->sharesStorageWith(*first.asList()));
  Value third = first;
  ASSERT_TRUE(third.asList()->push(Value::integer(4)));
  EXPECT_FALSE(third.asList()->sharesStorageWith(*first.asList()));
  EXPECT_TRUE(valuesEqual(first, integers({1, 2})));
  EXPECT_TRUE(valuesEqual(second, integers({1, 2, 3})));
  EXPECT_TRUE(valuesEqual(third, integers({1, 2, 4})));
  // Alone with the storage again, the first list drops what second appended.
  second = Value();
  ASSERT_TRUE(first.asList()->push(Value::integer(5)));
  ASSERT_TRUE(first.asList()->append(first.asList()->items()));
  EXPECT_TRUE(valuesEqual(first, integers({1, 2, 5, 1, 2, 5})));

  Value text = Value::bytes({7});
  const Value kept = text;
  text.asBytes()->append(text.asBytes()->span());
  text.asBytes()->append(text.asBytes()->span());
  EXPECT_TRUE(valuesEqual(text, Value::bytes({7, 7, 7, 7})));
  EXPECT_TRUE(valuesEqual(kept, Value::bytes({7})));
}

// A new key goes into the shared table as an item into a shared list; the
// maps that read fewer entries never find it, by scan or by index.
TEST(SharedValues, NewKeysPastEveryReaderShareTheTable) {
  for (const std::size_t size : {2, 40}) {
    SCOPED_TRACE(size);
    Value first = map({});
    for (std::size_t key = 0; key < size; ++key)
      ASSERT_TRUE(first.asMap()->set("k" + std::to_string(key), Value::integer(key)));
    Value second = first;
    ASSERT_TRUE(second.asMap()->set("new", Value::integer(1)));
    EXPECT_TRUE(second.asMap()->sharesStorageWith(*first.asMap()));
    EXPECT_EQ(first.asMap()->find("new"), nullptr);
    EXPECT_EQ(first.asMap()->size(), size);
    Value third = first;
    ASSERT_TRUE(third.asMap()->set("new", Value::integer(2)));
    EXPECT_FALSE(third.asMap()->sharesStorageWith(*first.asMap()));
    EXPECT_EQ(second.asMap()->find("new")->asInteger()->word, 1u);
    EXPECT_EQ(third.asMap()->find("new")->asInteger()->word, 2u);
    // Alone with the table again, the first map drops what second added.
    second = Value();
    third = Value();
    ASSERT_TRUE(first.asMap()->set("later", Value::integer(3)));
    EXPECT_EQ(first.asMap()->find("new"), nullptr);
    EXPECT_EQ(first.asMap()->find("later")->asInteger()->word, 3u);
    EXPECT_EQ(first.asMap()->find("k1")->asInteger()->word, 1u);
    EXPECT_EQ(first.asMap()->size(), size + 1);
  }
}

// An append that would make the list deeper gets storage of its own: the
// holders that read fewer items would hide an item deeper than they are
// (past the nesting limit, over rounds), and one holding the storage itself
// would be a cycle. No deeper items go in place, whatever the reach of a
// search.
TEST(SharedValues, OnlyAppendsThatKeepTheDepthShareTheStorage) {
  std::vector<Value> many;
  for (std::uint64_t word = 0; word < 200; ++word) many.push_back(Value::integer(word));
  const Value wide = list(std::move(many));
  const auto holders = [](const Value& inner) {
    return std::vector<Value>{inner, list({inner}), map({{"k", inner}}), structure(0, {{"f", list({inner})}})};
  };
  for (const Value& target : {integers({1}), wide, list({integers({1})})}) {
    const Value shared = target;
    std::vector<Value> incoming = holders(shared);
    incoming.push_back(nested(40));
    for (Value item : incoming) {
      const bool deeper = item.depth() >= target.depth();
      Value grown = target;
      ASSERT_TRUE(grown.asList()->push(std::move(item)));
      EXPECT_EQ(grown.asList()->sharesStorageWith(*shared.asList()), !deeper);
    }
    Value grown = target;
    ASSERT_TRUE(grown.asList()->append(shared.asList()->items()));
    EXPECT_TRUE(grown.asList()->sharesStorageWith(*shared.asList()));
  }
}

TEST(Value, OperandCopiesShareTheEnvironment) {
  auto shared = std::make_shared<OperandEnvironment>();
  ASSERT_TRUE(shared->bindings.set("x", Value::integer(1)));
  std::weak_ptr<const OperandEnvironment> watch = shared;
  {
    Value original = operand({OperandPiece{"a", shared}, OperandPiece{"b", shared}});
    shared.reset();
    EXPECT_EQ(watch.use_count(), 2);
    {
      Value copy = original;
      EXPECT_EQ(watch.use_count(), 4);
      EXPECT_TRUE(valuesEqual(original, copy));
    }
    EXPECT_EQ(watch.use_count(), 2);
  }
  EXPECT_TRUE(watch.expired());
}

TEST(Value, OperandTextAndCaptureDepth) {
  EXPECT_EQ(std::get<OperandValue>(operand({{"[rax", environment(0)}, {" + 8]", environment(0)}}).storage()).text(),
            "[rax + 8]");
  EXPECT_EQ(list({}).operandCaptureDepth(), 0u);
  EXPECT_EQ(operand({}).operandCaptureDepth(), 0u);
  EXPECT_EQ(list({map({{"m", operand({{"x", environment(3)}})}})}).operandCaptureDepth(), 3u);
  const Value mixed = structure(
      0, {{"a", operand({{"p", environment(2)}, {"q", environment(5)}})}, {"b", operand({{"r", environment(4)}})}});
  EXPECT_EQ(mixed.operandCaptureDepth(), 5u);
}

TEST(StructValue, FieldValueByNameReturnsTheFirstMatch) {
  const Value value = structure(0, {{"a", Value::integer(1)}, {"a", Value::integer(2)}});
  EXPECT_EQ(value.asStruct()->fieldValueByName("a")->asInteger()->word, 1u);
  EXPECT_EQ(value.asStruct()->fieldValueByName("A"), nullptr);
}

TEST(MapValue, SetKeepsPositionOfExistingKeysAndAppendsNewOnes) {
  MapValue entries;
  ASSERT_TRUE(entries.set("a", Value::integer(1)));
  ASSERT_TRUE(entries.set("b", Value::integer(2)));
  const Value replacement = Value::string("two");
  ASSERT_TRUE(entries.setCloned("a", replacement));
  ASSERT_TRUE(entries.setCloned("c", replacement));
  EXPECT_EQ(*replacement.asString(), "two");
  EXPECT_TRUE(valuesEqual(entries.entries()[0].value, replacement));
  std::string keys;
  for (const auto& entry : entries.entries()) keys += entry.key;
  EXPECT_EQ(keys, "abc");
  EXPECT_EQ(entries.find("B"), nullptr);
}

// Large maps switch to a hash index; lookups, replacement in place, order and
// copies must behave exactly as for small ones.
TEST(MapValue, LargeMapsKeepOrderAndFindEveryKey) {
  MapValue entries;
  constexpr std::uint64_t kCount = 1000;
  for (std::uint64_t index = 0; index < kCount; ++index)
    ASSERT_TRUE(entries.set("key" + std::to_string(index), Value::integer(index)));
  ASSERT_TRUE(entries.set("key500", Value::integer(kCount)));
  MapValue copy;
  ASSERT_TRUE(copy.set("old", Value()));
  copy = entries;
  ASSERT_EQ(copy.size(), kCount);
  EXPECT_EQ(copy.find("old"), nullptr);
  EXPECT_EQ(copy.find("key1000"), nullptr);
  for (std::uint64_t index = 0; index < kCount; ++index) {
    const std::string key = "key" + std::to_string(index);
    EXPECT_EQ(entries.entries()[index].key, key);
    const Value* found = copy.find(key);
    ASSERT_NE(found, nullptr) << key;
    EXPECT_EQ(found->asInteger()->word, index == 500 ? kCount : index);
  }
  MapValue reversed;
  for (std::uint64_t index = kCount; index-- > 0;)
    ASSERT_TRUE(reversed.set(entries.entries()[index].key, Value(entries.entries()[index].value)));
  EXPECT_TRUE(valuesEqual(Value(std::move(entries)), Value(std::move(reversed))));
}

TEST(Nesting, DepthIsBoundedForEveryContainer) {
  Value deepest = nested(kMaxNestingDepth);
  EXPECT_EQ(deepest.depth(), kMaxNestingDepth);
  // Copying, comparing and releasing the deepest value stays within the stack.
  EXPECT_TRUE(valuesEqual(Value(deepest), deepest));

  ListValue list_wrapper;
  EXPECT_EQ(errorOf(list_wrapper.push(std::move(deepest))), Error::NestingTooDeep);
  EXPECT_TRUE(list_wrapper.empty());
  EXPECT_EQ(deepest.depth(), kMaxNestingDepth) << "a refused value stays with the caller";

  MapValue map_wrapper;
  EXPECT_EQ(errorOf(map_wrapper.set("k", std::move(deepest))), Error::NestingTooDeep);
  EXPECT_EQ(errorOf(map_wrapper.setCloned("k", deepest)), Error::NestingTooDeep);
  EXPECT_TRUE(map_wrapper.empty());

  std::vector<StructValueField> fields;
  fields.push_back(StructValueField{"f", deepest});
  EXPECT_EQ(errorOf(StructValue::make(0, std::move(fields))), Error::NestingTooDeep);
  EXPECT_EQ(fields.size(), 1u);

  std::vector<Value> items;
  items.push_back(deepest);
  EXPECT_EQ(errorOf(ListValue::make(std::move(items))), Error::NestingTooDeep);
  EXPECT_EQ(items.size(), 1u);

  ListValue shallow;
  ASSERT_TRUE(shallow.push(Value::integer(1)));
  EXPECT_EQ(errorOf(shallow.set(0, std::move(deepest))), Error::NestingTooDeep);
}

TEST(Nesting, OperandCountsItsEnvironmentBindings) {
  auto shared = std::make_shared<OperandEnvironment>();
  ASSERT_TRUE(shared->bindings.set("deep", nested(kMaxNestingDepth - 1)));
  EXPECT_EQ(shared->bindings.depth(), kMaxNestingDepth);
  EXPECT_EQ(errorOf(OperandValue::make({OperandPiece{"x", shared}})), Error::NestingTooDeep);
}

TEST(Nesting, ReplacingTheDeepestItemLowersTheDepth) {
  ListValue items;
  ASSERT_TRUE(items.push(nested(5)));
  ASSERT_TRUE(items.push(Value::integer(1)));
  ASSERT_TRUE(items.set(0, Value::integer(2)));
  EXPECT_EQ(items.depth(), 1u);
  Value kept = Value::string("kept");
  EXPECT_EQ(errorOf(items.set(2, std::move(kept))), Error::InvalidArgument);
  EXPECT_EQ(*kept.asString(), "kept") << "a refused value stays with the caller";
  EXPECT_EQ(items.size(), 2u);

  MapValue entries;
  ASSERT_TRUE(entries.set("a", nested(3)));
  ASSERT_TRUE(entries.set("b", nested(3)));
  ASSERT_TRUE(entries.set("a", Value()));
  EXPECT_EQ(entries.depth(), 4u) << "another child is as deep";
  ASSERT_TRUE(entries.set("b", nested(1)));
  EXPECT_EQ(entries.depth(), 2u);

  EXPECT_EQ(structure(0, {{"x", nested(2)}, {"y", Value()}}).depth(), 3u);
  EXPECT_EQ(structure(0, {{"x", Value::integer(1)}, {"y", Value()}}).depth(), 1u);
}

}  // namespace
