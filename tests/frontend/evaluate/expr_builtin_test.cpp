#include "frontend/evaluate/expr_builtin.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "frontend/support/evaluation_cases.hpp"
#include "frontend/values/type_name.hpp"

namespace {

using frontend::expr::EvaluationContext;
using frontend::expr::EvaluationHooks;
using frontend::module::Module;
using frontend::output::image::Image;
using frontend::output::image::ImageRegion;
using frontend::types::StructField;
using frontend::value::Value;
using qovrin::Error;
using qovrin::testing::errorOf;
using Case = qovrin::testing::EvaluationCase;

Value integer(std::uint64_t word) { return Value::integer(word); }

class AssemblerBuiltins : public ::testing::Test {
 protected:
  void expect(std::span<const Case> cases) { qovrin::testing::expectEvaluations(cases, context); }

  std::uint32_t declare(std::string_view name, std::vector<std::pair<std::string, std::uint32_t>> members) {
    std::vector<StructField> fields;
    for (auto& [field, type] : members) fields.push_back(StructField{std::move(field), 0, std::nullopt, type});
    auto aggregate = frontend::types::layOutAggregate(module.types(), name, std::move(fields), false, false);
    EXPECT_TRUE(aggregate);
    const auto id = frontend::type_name::addAggregateType(module.typeTables(), std::move(*aggregate));
    EXPECT_TRUE(id);
    return *id;
  }

  std::uint32_t integerType(std::string_view name, std::uint16_t bits) {
    return module.getOrAddIntType(name, bits, false).value();
  }

  // A local "local" holding the given value, the rest undefined.
  void setLocal(Value local) {
    hooks.resolve_local = [local = std::move(local)](std::string_view name) -> qovrin::Result<std::optional<Value>> {
      if (name == "local") return std::optional<Value>(local);
      return std::optional<Value>();
    };
    context.hooks = &hooks;
  }

  Module module{frontend::target::Target::x86(64)};
  EvaluationHooks hooks;
  EvaluationContext context{.module = module};
};

TEST_F(AssemblerBuiltins, TypesLengthsAndFloats) {
  const std::uint32_t s =
      declare("S", {{"a", integerType("u8", 8)}, {"b", integerType("u32", 32)}, {"c", integerType("u16", 16)}});
  declare("H", {{"tag", integerType("u8", 8)}, {"inner", s}});
  const Case cases[] = {
      {"sizeof(S)", integer(12)},
      {"offset_of(S, c)", integer(8)},
      {"offset_of(H, inner.c)", integer(4 + 8)},
      {"sizeof(u16)", integer(2)},
      {"sizeof(i64)", integer(8)},
      {"sizeof(Nope)", Error::UnknownTypeName},
      {"sizeof(1)", Error::InvalidArgument},
      {"sizeof(S, S)", Error::InvalidArgument},
      {"offset_of(S, d)", Error::UnknownField},
      {"offset_of(S, a.b)", Error::InvalidOperand},
      {"offset_of(u8, a)", Error::InvalidOperand},
      {"offset_of(Nope, a)", Error::UnknownTypeName},
      {"offset_of(S)", Error::InvalidArgument},
      {"lengthof(12345)", integer(5)},
      {"lengthof(0)", integer(1)},
      {"lengthof(\"abc\")", integer(3)},
      {"lengthof(b\"ab\")", integer(2)},
      {"lengthof(list.of())", Error::TypeMismatch},
      {"f32(1)", Error::TypeMismatch},
      {"f32(1e300)", Error::InvalidNumber},
      {"f32(0.5)", Value::float32(0.5f)},
      {"f64(f32(0.5))", Value::float64(0.5)},
      {"f64(0.25)", Value::float64(0.25)},
      {"f64()", Error::InvalidArgument},
      {"pack(1)", Error::TypeMismatch},
  };
  expect(cases);
  EXPECT_EQ(errorOf(frontend::expr::offsetOf(context, "H", "inner..c")), Error::InvalidArgument);
  EXPECT_EQ(errorOf(frontend::expr::offsetOf(context, "H", "")), Error::InvalidArgument);
}

TEST_F(AssemblerBuiltins, PackLaysOutAStructValue) {
  const std::uint32_t s = declare("S", {{"a", integerType("u8", 8)}, {"b", integerType("u16", 16)}});
  std::vector<frontend::value::StructValueField> fields;
  fields.push_back({"a", integer(1)});
  fields.push_back({"b", integer(0x0302)});
  auto structure = frontend::value::StructValue::make(s, std::move(fields));
  ASSERT_TRUE(structure);
  ASSERT_TRUE(module.defineValue("v", Value(std::move(*structure)), false, {}));
  const Case cases[] = {{"pack(v)", Value::bytes({1, 0, 2, 3})}};
  expect(cases);
}

TEST_F(AssemblerBuiltins, PositionsFollowTheContext) {
  const Case without_section[] = {{"here()", Error::MissingEvaluationContext}, {"tail_reserve_size()", integer(0)}};
  expect(without_section);
  module.sections()[0].base = 0x1000;
  module.sections()[0].file_offset = 0x200;
  context.current_section = 0;
  context.offset = 0x10;
  const Case cases[] = {
      {"here()", integer(0x1010)},
      {"here(1)", Error::InvalidArgument},
      {"region_base()", integer(0x1000)},
      {"file_offset()", integer(0x210)},
      {"file_cursor_real()", integer(0x210)},
      {"file_cursor_potential()", integer(0x210)},
      {"tail_reserve_size()", integer(0)},
  };
  expect(cases);
  context.file_cursor = 0x8;
  const Case with_cursor[] = {{"file_offset()", integer(0x208)},
                              {"file_cursor_real()", integer(0x208)},
                              {"file_cursor_potential()", integer(0x210)},
                              {"tail_reserve_size()", integer(8)}};
  expect(with_cursor);
  context.file_cursor = 0x20;
  const Case cursor_ahead[] = {{"tail_reserve_size()", integer(0)}};
  expect(cursor_ahead);
  module.sections()[0].base = ~std::uint64_t{0};
  context.current_section = 7;
  const Case bad_section[] = {{"region_base()", Error::InvalidOperand}};
  expect(bad_section);
  context.current_section = 0;
  const Case overflow[] = {{"here()", Error::InvalidNumber}, {"region_base()", integer(~std::uint64_t{0})}};
  expect(overflow);
}

TEST_F(AssemblerBuiltins, LabelsAndUniqueNames) {
  module.sections()[0].base = 0x1000;
  ASSERT_TRUE(module.defineAnchoredLabel("start", 0, 0x10, 0, {}));
  ASSERT_TRUE(module.defineValue("answer", integer(42), false, {}));
  const Case without_hooks[] = {{"sym.unique(\"L\")", Error::MissingEvaluationContext}};
  expect(without_hooks);
  setLocal(Value::string("start"));
  std::uint32_t counter = 0;
  hooks.unique_symbol = [&counter](std::string_view prefix) -> qovrin::Result<std::string> {
    return std::string(prefix) + "__" + std::to_string(counter++);
  };
  const Case cases[] = {
      {"label_addr(start)", integer(0x1010)},          {"label_addr(local)", integer(0x1010)},
      {"label_addr(\"start\")", integer(0x1010)},      {"label_addr(answer)", Error::InvalidOperand},
      {"label_addr(missing)", Error::UndefinedSymbol}, {"label_addr(1)", Error::TypeMismatch},
      {"label_addr()", Error::InvalidArgument},        {"sym.unique(\"L\")", Value::string("L__0")},
      {"sym.unique(\"L\")", Value::string("L__1")},    {"sym.unique(1)", Error::TypeMismatch},
      {"sym.unique()", Error::InvalidArgument},
  };
  expect(cases);
}

TEST_F(AssemblerBuiltins, LoadsReadEmittedBytesBeforeLayout) {
  module.sections()[0].base = 0x1000;
  const std::uint8_t first[] = {1, 2};
  const std::uint8_t second[] = {3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_TRUE(module.defineAnchoredLabel("start", 0, 0, 0, {}));
  ASSERT_TRUE(module.emitBytes(0, first, {}));
  ASSERT_TRUE(module.emitBytes(0, second, {}));
  ASSERT_TRUE(module.defineValue("HDR", integer(0x1002), false, {}));
  ASSERT_TRUE(module.defineValue("NAME", Value::string("x"), false, {}));
  const Case without_section[] = {{"load.u8(HDR)", Error::MissingEvaluationContext}, {"load.u8(start)", integer(1)}};
  expect(without_section);
  context.current_section = 0;
  setLocal(integer(0x1008));
  const Case cases[] = {
      {"load.u32(start)", integer(0x04030201)},
      {"load.u8(start + 9)", integer(10)},
      {"load.u16(HDR)", integer(0x0403)},
      {"load.u8(local)", integer(9)},
      {"load.u8(local + 1)", integer(10)},
      {"load.u64(0x1002)", integer(0x0a09080706050403)},
      {"load.bytes(start, 3)", Value::bytes({1, 2, 3})},
      {"load.bytes(start, \"3\")", Error::TypeMismatch},
      {"load.u8(NAME)", Error::TypeMismatch},
      {"load.u8(missing)", Error::UndefinedSymbol},
      {"load.u8(P{ x: 1 })", Error::InvalidArgument},
      {"load.u8()", Error::InvalidArgument},
      {"load.bytes(start)", Error::InvalidArgument},
      {"region_file_size(start)", Error::MissingEvaluationContext},
  };
  expect(cases);
  EXPECT_FALSE(qovrin::testing::evaluateText("load.u32(start + 8)", context));
}

TEST_F(AssemblerBuiltins, LoadsAndRegionsReadTheImageOnceLaidOut) {
  ASSERT_TRUE(module.createOutputSection("data", 0x2000, 0x10));
  ASSERT_TRUE(module.defineAnchoredLabel("start", 0, 0, 0, {}));
  ASSERT_TRUE(module.defineAnchoredLabel("data", 1, 0, 0, {}));
  module.sections()[0].base = 0x1000;
  std::vector<std::uint8_t> bytes(0x18);
  for (std::size_t index = 0; index < bytes.size(); ++index) bytes[index] = static_cast<std::uint8_t>(index);
  const ImageRegion regions[] = {{0x1000, 0, 0x20, 0x10, 0}, {0x2000, 0x10, 0x8, 0x8, 1}};
  const Image image{.regions = regions, .bytes = bytes};
  context.image = &image;
  context.current_section = 0;
  const Case cases[] = {
      {"load.u32(start + 4)", integer(0x07060504)},
      {"load.u8(data + 1)", integer(0x11)},
      {"load.u8(0x2001)", integer(0x11)},
      {"load.bytes(data, 2)", Value::bytes({0x10, 0x11})},
      {"region_file_size(start + 0x18)", integer(0x10)},
      {"region_logical_size(start + 0x18)", integer(0x20)},
      {"region_file_offset(0x2004)", integer(0x10)},
      {"region_file_offset()", Error::InvalidArgument},
  };
  expect(cases);
  // Past the region's stored bytes, though inside its logical size.
  EXPECT_FALSE(qovrin::testing::evaluateText("load.u8(start + 0x18)", context));
}

// A later argument that runs code assigning the binding an earlier argument
// names, anywhere in its tree, leaves the earlier argument its value as read:
// a value function the caller says may reach it, a captured operand.
TEST(ArgumentOrder, LaterCodeLeavesAnEarlierNameItsValue) {
  Module module{frontend::target::Target::x86(64)};
  Value s;
  auto operand = frontend::value::OperandValue::make(
      {{"x", std::make_shared<const frontend::value::OperandEnvironment>()}});
  ASSERT_TRUE(operand);
  Value o(std::move(*operand));
  EvaluationHooks hooks;
  hooks.find_local = [&](std::string_view name) { return name == "s" ? &s : name == "o" ? &o : nullptr; };
  hooks.resolve_local = [&](std::string_view name) -> qovrin::Result<std::optional<Value>> {
    if (Value* local = hooks.find_local(name)) return std::optional<Value>(*local);
    return std::optional<Value>();
  };
  const auto renew = [&] {
    s = Value::string("new");
    return Value::integer(0);
  };
  hooks.call_value_function = [&](std::string_view, std::span<const frontend::expr::BuiltinArgument>,
                                  const EvaluationContext&) -> qovrin::Result<Value> { return renew(); };
  hooks.function_may_reach = [](std::string_view function, std::string_view, const EvaluationContext&) {
    return function == "renew";
  };
  hooks.evaluate_operand = [&](const frontend::value::OperandValue&, const EvaluationContext&) -> qovrin::Result<Value> {
    return renew();
  };
  const EvaluationContext context{.module = module, .hooks = &hooks};
  const Case cases[] = {
      {"sym.join(s, renew())", Value::string("old0")},
      {"sym.join(s, 1 * 2 + renew())", Value::string("old2")},
      {"sym.join(s, -renew())", Value::string("old0")},
      {"sym.join(s, len(to_string(renew())))", Value::string("old1")},
      {"sym.join(s, operand.eval(o))", Value::string("old0")},
      {"sym.join(s, 1, operand.eval(o) + 2)", Value::string("old12")},
  };
  for (const Case& row : cases) {
    s = Value::string("old");
    qovrin::testing::expectEvaluations(std::span(&row, 1), context);
  }
}

}  // namespace
