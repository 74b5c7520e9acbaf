#include "frontend/meta_std/meta_std.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/support/evaluation_cases.hpp"

namespace {

using frontend::expr::EvaluationContext;
using frontend::module::Module;
using frontend::value::Bytes;
using frontend::value::ListValue;
using frontend::value::MapValue;
using frontend::value::Value;
using qovrin::Error;
using Case = qovrin::testing::EvaluationCase;

Value text(std::string value) { return Value::string(std::move(value)); }
Value integer(std::uint64_t word) { return Value::integer(word); }
Value boolean(bool truth) { return Value::boolean(truth); }
Value bytes(Bytes data) { return Value::bytes(std::move(data)); }

Value list(std::vector<Value> items) {
  auto made = ListValue::make(std::move(items));
  EXPECT_TRUE(made);
  return Value(std::move(*made));
}

Value texts(std::vector<std::string> items) {
  std::vector<Value> values;
  for (auto& item : items) values.push_back(text(std::move(item)));
  return list(std::move(values));
}

class MetaStd : public ::testing::Test {
 protected:
  void expect(std::span<const Case> cases) { qovrin::testing::expectEvaluations(cases, context); }

  Module module{frontend::target::Target::x86(64)};
  EvaluationContext context{.module = module};
};

TEST_F(MetaStd, LengthsAndConstructors) {
  const Case cases[] = {
      {"len(\"\")", integer(0)},
      {"len(b\"abc\")", integer(3)},
      {"len(list.of(1, 2))", integer(2)},
      {"len(map.new())", integer(0)},
      {"len(5)", Error::TypeMismatch},
      {"len()", Error::InvalidArgument},
      {"len(\"a\", \"b\")", Error::InvalidArgument},
      {"list.of()", list({})},
      {"list.of(1, \"a\", list.of())", list({integer(1), text("a"), list({})})},
      {"bytes.new()", bytes({})},
      {"bytes.new(1)", Error::InvalidArgument},
      {"map.new(1)", Error::InvalidArgument},
      {"list.new()", list({})},
      // The second argument's failure stops the call before it runs.
      {"len(\"a\", undefined_name)", Error::UndefinedSymbol},
      {"crypto.crc32(\"a\")", integer(0xe8b7be43)},
  };
  expect(cases);
}

TEST_F(MetaStd, StringsWorkOnBytes) {
  const Case cases[] = {
      {"trim(\"\t a b \r\n\")", text("a b")},
      {"trim(\"  \")", text("")},
      {"trim(\"\va\v\")", text("\va\v")},
      {"trim(b\"a\")", Error::TypeMismatch},
      {"upper(\"az_AZ09\xc3\xa9\")", text("AZ_AZ09\xc3\xa9")},
      {"lower(\"AbC\")", text("abc")},
      {"starts_with(\"ab\", \"abc\")", boolean(false)},
      {"starts_with(\"abc\", \"ab\")", boolean(true)},
      {"ends_with(\"abc\", \"\")", boolean(true)},
      {"ends_with(\"abc\", b\"c\")", Error::TypeMismatch},
      {"contains(\"abc\", \"bc\")", boolean(true)},
      {"contains(b\"abc\", b\"\")", boolean(true)},
      {"contains(b\"abc\", b\"ac\")", boolean(false)},
      {"contains(\"abc\", b\"a\")", Error::TypeMismatch},
      {"contains(1, 1)", Error::TypeMismatch},
      {"replace(\"aaa\", \"aa\", \"b\")", text("ba")},
      {"replace(\"abc\", \"x\", \"y\")", text("abc")},
      {"replace(\"a.b.c\", \".\", \"::\")", text("a::b::c")},
      {"replace(\"abc\", \"\", \"y\")", Error::InvalidArgument},
      {"join(split(\"a,,b,\", \",\"), \"|\")", text("a||b|")},
      {"split(\"\", \",\")", texts({""})},
      {"split(\"a--b\", \"--\")", texts({"a", "b"})},
      {"split(\"a\", \"\")", Error::InvalidArgument},
      {"join(list.of(), \",\")", text("")},
      {"join(list.of(\"x\"), \",\")", text("x")},
      {"join(list.of(\"x\", 1), \",\")", Error::TypeMismatch},
      {"join(\"x\", \",\")", Error::TypeMismatch},
      {"sym.join(\"lbl_\", 3, \"_end\")", text("lbl_3_end")},
      {"sym.join()", text("")},
      {"sym.join(true, bytes.le(15, 1))", text("true0f")},
      {"sym.join(\"a\", list.of())", Error::TypeMismatch},
  };
  expect(cases);
}

TEST_F(MetaStd, BytesCheckOffsetsAndBytes) {
  const Case cases[] = {
      {"bytes.hex(bytes.le(0x1234, 2))", text("3412")},
      {"bytes.le(0x1234, 1)", bytes({0x34})},
      {"bytes.le(0x1234, 0)", bytes({})},
      {"bytes.le(1, 9)", Error::InvalidApiInteger},
      {"bytes.push(b\"\", 255)", bytes({0xff})},
      {"bytes.push(b\"\", 256)", Error::InvalidApiInteger},
      {"bytes.push(\"a\", 1)", Error::TypeMismatch},
      {"bytes.push(b\"\", true)", Error::TypeMismatch},
      {"bytes.repeat(0, 7)", bytes({})},
      {"bytes.repeat(3, 7)", bytes({7, 7, 7})},
      {"bytes.repeat(3, 256)", Error::InvalidApiInteger},
      {"bytes.repeat(-1, 0)", Error::OutputTooLarge},
      {"bytes.concat(b\"a\", b\"b\")", bytes({'a', 'b'})},
      {"bytes.insert(b\"ab\", 2, b\"c\")", bytes({'a', 'b', 'c'})},
      {"bytes.insert(b\"ab\", 1, b\"c\")", bytes({'a', 'c', 'b'})},
      {"bytes.insert(b\"ab\", 3, b\"c\")", Error::InvalidArgument},
      {"bytes.replace(b\"abc\", 1, 0, b\"x\")", bytes({'a', 'x', 'b', 'c'})},
      {"bytes.replace(b\"abc\", 1, 2, b\"xyz\")", bytes({'a', 'x', 'y', 'z'})},
      {"bytes.replace(b\"abc\", 1, 3, b\"\")", Error::InvalidArgument},
      {"bytes.replace(b\"abc\", 1, -1, b\"\")", Error::InvalidArgument},
      {"bytes.eq(b\"ab\", b\"ab\")", boolean(true)},
      {"bytes.eq(b\"ab\", b\"a\")", boolean(false)},
      {"bytes.hex(bytes.push(bytes.push(b\"\", 0), 0xab))", text("00ab")},
      {"bytes.from_hex(\"00AB\")", bytes({0x00, 0xab})},
      {"bytes.from_hex(\"\")", bytes({})},
      {"bytes.from_hex(\"abc\")", Error::InvalidArgument},
      {"bytes.from_hex(\"zz\")", Error::InvalidArgument},
  };
  expect(cases);
}

TEST_F(MetaStd, ScalarsHaveText) {
  ASSERT_TRUE(module.defineValue("narrow", Value::float32(0.1f), false, {}));
  const Case cases[] = {
      {"to_string(0)", text("0")},
      {"to_string(-1)", text("18446744073709551615")},
      {"to_string(1e23)", text("100000000000000000000000.0")},
      {"to_string(0.5)", text("0.5")},
      {"to_string(narrow)", text("0.1")},
      {"to_string(false)", text("false")},
      {"to_string(bytes.le(1, 1))", text("01")},
      {"to_string(list.of())", Error::TypeMismatch},
      {"to_string(map.new())", Error::TypeMismatch},
  };
  expect(cases);
  const auto type = qovrin::testing::evaluateText("u8", context);
  ASSERT_TRUE(type);
  const auto text_of_type = frontend::meta_std::valueToString(*type);
  ASSERT_TRUE(text_of_type);
  EXPECT_EQ(*text_of_type, "type#" + std::to_string(type->getIf<frontend::value::TypeValue>()->id));
  EXPECT_EQ(frontend::meta_std::valueToString(Value()).value(), "void");
}

TEST_F(MetaStd, ListsAreCopiedNeverChanged) {
  ASSERT_TRUE(module.defineValue("l", list({integer(1), integer(2), integer(3)}), false, {}));
  const Case cases[] = {
      {"list.push(l, list.of())", list({integer(1), integer(2), integer(3), list({})})},
      {"list.concat(l, list.of(4))", list({integer(1), integer(2), integer(3), integer(4)})},
      {"list.get(l, 2)", integer(3)},
      {"list.get(l, 3)", Error::InvalidArgument},
      {"list.get(list.of(), 0)", Error::InvalidArgument},
      {"list.get(l, \"0\")", Error::TypeMismatch},
      {"list.set(l, 0, \"x\")", list({text("x"), integer(2), integer(3)})},
      {"list.set(l, 3, 0)", Error::InvalidArgument},
      {"l", list({integer(1), integer(2), integer(3)})},
      {"list.slice(l, 1, 2)", list({integer(2), integer(3)})},
      {"list.slice(l, 3, 0)", list({})},
      {"list.slice(l, 2, 2)", Error::InvalidArgument},
      {"list.slice(l, 1, -1)", Error::InvalidArgument},
      {"list.slice(l, 4, 0)", Error::InvalidArgument},
      {"list.eq(l, list.of(1, 2, 3))", boolean(true)},
      {"list.eq(l, list.of(3, 2, 1))", boolean(false)},
      {"list.eq(l, 1)", Error::TypeMismatch},
      {"list.push(1, 1)", Error::TypeMismatch},
  };
  expect(cases);
}

// Taking the first argument over gives what the copying form gives, and a
// failure leaves that argument whole.
TEST(MetaStdChangingFirst, SameResultsAndUntouchedOnFailure) {
  using frontend::meta_std::MetaStdBuiltin;
  Value deep = integer(0);
  for (std::uint32_t level = 0; level < frontend::value::kMaxNestingDepth; ++level) deep = list({std::move(deep)});
  MapValue map;
  ASSERT_TRUE(map.set("b", integer(1)));
  struct Row {
    MetaStdBuiltin kind;
    std::vector<Value> arguments;
  };
  std::vector<Row> rows;
  const auto row = [&rows](MetaStdBuiltin kind, std::vector<Value> arguments) {
    rows.push_back({kind, std::move(arguments)});
  };
  row(MetaStdBuiltin::list_set, {list({integer(1), integer(2)}), integer(1), text("x")});
  row(MetaStdBuiltin::list_set, {list({integer(1), integer(2)}), integer(2), integer(0)});
  row(MetaStdBuiltin::list_set, {list({integer(1), integer(2)}), text("0"), integer(0)});
  row(MetaStdBuiltin::list_set, {list({integer(1), integer(2)}), integer(0), Value(deep)});
  row(MetaStdBuiltin::map_set, {Value(MapValue(map)), text("b"), integer(5)});
  row(MetaStdBuiltin::map_set, {Value(MapValue(map)), text("c"), integer(6)});
  row(MetaStdBuiltin::map_set, {Value(MapValue(map)), integer(1), integer(6)});
  row(MetaStdBuiltin::map_set, {list({}), text("c"), integer(6)});
  for (Row& test : rows) {
    SCOPED_TRACE(static_cast<int>(test.kind));
    EXPECT_TRUE(frontend::meta_std::changesFirstArgument(test.kind));
    const auto copied = frontend::meta_std::callBuiltin(test.kind, std::span<const Value>(test.arguments));
    const Value first = test.arguments.front();
    const auto taken = frontend::meta_std::callBuiltinChangingFirst(test.kind, test.arguments);
    ASSERT_EQ(copied.has_value(), taken.has_value());
    if (!copied) {
      EXPECT_EQ(copied.error(), taken.error());
      EXPECT_TRUE(frontend::value::valuesEqual(test.arguments.front(), first));
      continue;
    }
    EXPECT_TRUE(frontend::value::valuesEqual(*copied, *taken));
    EXPECT_EQ(copied->depth(), taken->depth());
  }
  EXPECT_FALSE(frontend::meta_std::changesFirstArgument(MetaStdBuiltin::list_concat));
  EXPECT_FALSE(frontend::meta_std::changesFirstArgument(MetaStdBuiltin::list_push));
}

TEST_F(MetaStd, MapsKeepInsertionOrder) {
  const auto built =
      qovrin::testing::evaluateText("map.set(map.set(map.set(map.new(), \"b\", 1), \"a\", 2), \"b\", 3)", context);
  ASSERT_TRUE(built);
  ASSERT_TRUE(module.defineValue("m", Value(*built), false, {}));
  const Case cases[] = {
      {"join(map.keys(m), \",\")", text("b,a")},
      {"map.values(m)", list({integer(3), integer(2)})},
      {"map.get(m, \"b\")", integer(3)},
      {"map.get(m, \"zz\")", Error::InvalidArgument},
      {"map.get_or(m, \"zz\", \"d\")", text("d")},
      {"map.get_or(m, \"a\", \"d\")", integer(2)},
      {"map.has(m, \"a\")", boolean(true)},
      {"map.has(map.set(m, \"c\", 0), \"c\")", boolean(true)},
      {"map.has(m, \"c\")", boolean(false)},
      {"map.eq(m, map.set(map.set(map.new(), \"a\", 2), \"b\", 3))", boolean(true)},
      {"map.eq(m, map.set(map.new(), \"a\", 2))", boolean(false)},
      {"map.keys(map.new())", list({})},
      {"map.get(m, 1)", Error::TypeMismatch},
      {"map.set(list.of(), \"a\", 1)", Error::TypeMismatch},
      {"map.keys(m, m)", Error::InvalidArgument},
  };
  expect(cases);
}

}  // namespace
