#include "frontend/values/typecheck.hpp"

#include <gtest/gtest.h>

#include "common/error_of.hpp"

using qovrin::testing::errorOf;

namespace {

using frontend::type_name::TypeNameTable;
using frontend::type_name::TypeTables;
using frontend::typecheck::Annotation;
using frontend::typecheck::annotationFromName;
using frontend::typecheck::AnnotationKind;
using frontend::typecheck::AnnotationValueKind;
using frontend::typecheck::coerceValueToAnnotation;
using frontend::typecheck::validateIntegerFitsType;
using frontend::types::ArrayType;
using frontend::types::IntegerType;
using frontend::types::Type;
using frontend::types::TypeStore;
using frontend::value::StructValue;
using frontend::value::Value;
using qovrin::Error;

constexpr std::uint64_t negative(std::int64_t number) { return static_cast<std::uint64_t>(number); }

TEST(ValidateIntegerFitsType, RangeTable) {
  // word, bits, signed, fits
  const std::tuple<std::uint64_t, std::uint16_t, bool, bool> cases[] = {
      {255, 8, false, true},
      {256, 8, false, false},
      {negative(-1), 8, false, false},
      {negative(-128), 8, true, true},
      {negative(-129), 8, true, false},
      {127, 8, true, true},
      {128, 8, true, false},
      {2, 1, false, false},
      {negative(-1), 1, true, true},
      {1, 1, true, false},
      {0xFFFFFF, 24, false, true},
      {0x1000000, 24, false, false},
      {~std::uint64_t{0}, 64, false, true},
      {std::uint64_t{1} << 63, 64, true, true},
      {0x80000000, 32, true, false},
      {negative(-0x80000000LL), 32, true, true},
      {0, 0, false, false},
      {0, 65, false, false},
  };
  for (const auto& [word, bits, is_signed, fits] : cases) {
    const auto result = validateIntegerFitsType(word, IntegerType{bits, is_signed});
    EXPECT_EQ(result.has_value(), fits) << word << " in " << (is_signed ? "i" : "u") << bits;
    EXPECT_TRUE(result || result.error() == Error::InvalidValueDeclaration);
  }
}

TEST(AnnotationFromName, ValueKindNamesWithoutTypeTables) {
  const std::pair<const char*, AnnotationValueKind> cases[] = {
      {"void", AnnotationValueKind::void_},      {"bool", AnnotationValueKind::boolean},
      {"boolean", AnnotationValueKind::boolean}, {"integer", AnnotationValueKind::integer},
      {"f32", AnnotationValueKind::float32},     {"f64", AnnotationValueKind::float64},
      {"string", AnnotationValueKind::string},   {"bytes", AnnotationValueKind::bytes},
      {"type", AnnotationValueKind::type},       {"struct", AnnotationValueKind::struct_},
      {"list", AnnotationValueKind::list},       {"map", AnnotationValueKind::map},
      {"operand", AnnotationValueKind::operand},
  };
  for (const auto& [name, kind] : cases) {
    const auto annotation = annotationFromName(name);
    ASSERT_TRUE(annotation) << name;
    EXPECT_EQ(annotation->kind, AnnotationKind::value_kind);
    EXPECT_EQ(annotation->payload, static_cast<std::uint32_t>(kind)) << name;
  }
  for (const char* name : {"u8", "usize", "Bool", "float", ""}) EXPECT_FALSE(annotationFromName(name)) << name;
}

class Annotations : public ::testing::Test {
 protected:
  TypeStore store;
  TypeNameTable names;
  TypeTables tables{store, names};

  std::optional<Annotation> resolve(std::string_view name) {
    const auto annotation = annotationFromName(tables, name);
    EXPECT_TRUE(annotation) << name;
    return annotation ? *annotation : std::nullopt;
  }

  std::uint32_t declareStruct(std::string_view name) {
    auto aggregate = frontend::types::layOutAggregate(store, name, {}, false, false);
    EXPECT_TRUE(aggregate);
    const auto id = frontend::type_name::addAggregateType(tables, std::move(*aggregate));
    EXPECT_TRUE(id);
    return *id;
  }
};

TEST_F(Annotations, UsizeIsCreatedOnDemand) {
  const auto annotation = resolve("usize");
  ASSERT_TRUE(annotation);
  EXPECT_EQ(annotation->kind, AnnotationKind::integer_type);
  const IntegerType* integer = store.find(annotation->payload)->getIf<IntegerType>();
  ASSERT_NE(integer, nullptr);
  EXPECT_EQ(integer->bits, 64);
  EXPECT_FALSE(integer->is_signed);
  EXPECT_EQ(resolve("usize")->payload, annotation->payload);
  EXPECT_EQ(store.size(), 1u);
}

TEST_F(Annotations, TypeKindsDecideTheAnnotation) {
  declareStruct("list");
  const std::uint32_t header = declareStruct("Header");
  const auto id = store.add(Type{ArrayType{4, header}});
  ASSERT_TRUE(id);
  ASSERT_TRUE(names.registerName("Quad", *id));
  ASSERT_TRUE(names.registerName("Ghost", 77));

  EXPECT_EQ(resolve("list")->kind, AnnotationKind::value_kind) << "kind names win over type names";
  const auto structure = resolve("Header");
  ASSERT_TRUE(structure);
  EXPECT_EQ(structure->kind, AnnotationKind::struct_type);
  EXPECT_EQ(structure->payload, header);
  EXPECT_EQ(resolve("i16")->kind, AnnotationKind::integer_type);
  EXPECT_FALSE(resolve("Quad"));
  EXPECT_FALSE(resolve("Nothing"));
  EXPECT_EQ(errorOf(annotationFromName(tables, "Ghost")), Error::InvalidValueDeclaration);
}

// An accepted integer takes the annotation's type; a refused value is left as it was.
TEST_F(Annotations, CoerceTable) {
  const std::uint32_t u8 = resolve("u8")->payload;
  const std::uint32_t i8 = resolve("i8")->payload;
  const std::uint32_t header = declareStruct("Header");
  const std::uint32_t other = declareStruct("Other");
  auto structOf = [](std::uint32_t type_id) {
    auto made = StructValue::make(type_id, {});
    EXPECT_TRUE(made);
    return Value(std::move(*made));
  };
  const auto kind = [](AnnotationValueKind value_kind) {
    return Annotation{static_cast<std::uint32_t>(value_kind), AnnotationKind::value_kind};
  };
  const struct {
    const char* name;
    Value value;
    std::optional<Annotation> annotation;
    bool accepted;
  } cases[] = {
      {"no annotation", Value::string("x"), std::nullopt, true},
      {"bool", Value::boolean(true), kind(AnnotationValueKind::boolean), true},
      {"integer as bool", Value::integer(1), kind(AnnotationValueKind::boolean), false},
      {"integer as f64", Value::integer(1), kind(AnnotationValueKind::float64), false},
      {"float32 as f32", Value::float32(1.0f), kind(AnnotationValueKind::float32), true},
      {"float64 as f32", Value::float64(1.0), kind(AnnotationValueKind::float32), false},
      {"void", Value(), kind(AnnotationValueKind::void_), true},
      {"struct kind", structOf(header), kind(AnnotationValueKind::struct_), true},
      {"bytes as string", Value::bytes({}), kind(AnnotationValueKind::string), false},
      {"unknown value kind", Value(), Annotation{12, AnnotationKind::value_kind}, false},
      {"300 as u8", Value::integer(300), Annotation{u8, AnnotationKind::integer_type}, false},
      {"255 as u8", Value::integer(255), Annotation{u8, AnnotationKind::integer_type}, true},
      {"-128 as i8", Value::integer(negative(-128)), Annotation{i8, AnnotationKind::integer_type}, true},
      {"string as u8", Value::string("1"), Annotation{u8, AnnotationKind::integer_type}, false},
      {"integer type id not an integer", Value::integer(1), Annotation{header, AnnotationKind::integer_type}, false},
      {"integer type id beyond store", Value::integer(1), Annotation{90, AnnotationKind::integer_type}, false},
      {"struct of its type", structOf(header), Annotation{header, AnnotationKind::struct_type}, true},
      {"struct of another type", structOf(other), Annotation{header, AnnotationKind::struct_type}, false},
      {"integer as struct", Value::integer(0), Annotation{header, AnnotationKind::struct_type}, false},
  };
  for (const auto& entry : cases) {
    Value value = entry.value;
    const auto result = coerceValueToAnnotation(store, value, entry.annotation);
    EXPECT_EQ(result.has_value(), entry.accepted) << entry.name;
    EXPECT_TRUE(result || result.error() == Error::InvalidValueDeclaration) << entry.name;
    const auto* integer = value.asInteger();
    if (!integer) continue;
    const bool tagged = result && entry.annotation && entry.annotation->kind == AnnotationKind::integer_type;
    EXPECT_EQ(integer->type_id, tagged ? std::optional(entry.annotation->payload) : std::nullopt) << entry.name;
    EXPECT_EQ(integer->word, entry.value.asInteger()->word) << entry.name;
  }
}

}  // namespace
