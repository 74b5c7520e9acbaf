#include "frontend/values/types.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "common/error_of.hpp"
#include "frontend/support/failing_allocation.hpp"
#include "frontend/values/type_name.hpp"

using qovrin::testing::errorOf;

namespace {

using frontend::type_name::TypeNameTable;
using frontend::type_name::TypeTables;
using frontend::types::ArrayType;
using frontend::types::FixedType;
using frontend::types::IntegerType;
using frontend::types::layOutAggregate;
using frontend::types::StructField;
using frontend::types::Type;
using frontend::types::TypeKind;
using frontend::types::TypeStore;
using frontend::types::VoidType;
using qovrin::Error;

std::uint32_t add(TypeStore& store, Type type) {
  const auto id = store.add(std::move(type));
  EXPECT_TRUE(id);
  return *id;
}

std::uint32_t integer(TypeStore& store, std::uint16_t bits, bool is_signed = false) {
  return add(store, Type{IntegerType{bits, is_signed}});
}

std::uint32_t array(TypeStore& store, std::uint64_t count, std::uint32_t element) {
  return add(store, Type{ArrayType{count, element}});
}

TEST(TypeStore, LayoutTable) {
  TypeStore store;
  const std::uint32_t u8 = integer(store, 8);
  const std::uint32_t u16 = integer(store, 16);
  const std::uint32_t i64 = integer(store, 64, true);
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  // name, type, size, alignment
  const std::tuple<const char*, Type, std::uint64_t, std::uint64_t> cases[] = {
      {"void", Type{VoidType{}}, 0, 1},
      {"u1", Type{IntegerType{1, false}}, 1, 1},
      {"u9", Type{IntegerType{9, false}}, 2, 2},
      {"u24", Type{IntegerType{24, false}}, 3, 4},
      {"u32", Type{IntegerType{32, false}}, 4, 4},
      {"u40", Type{IntegerType{40, false}}, 5, 8},
      {"i64", Type{IntegerType{64, true}}, 8, 8},
      {"u16[3]", Type{ArrayType{3, u16}}, 6, 2},
      {"i64[0]", Type{ArrayType{0, i64}}, 0, 8},
      {"u8[2^64-1]", Type{ArrayType{max, u8}}, max, 1},
      {"fixed", Type{FixedType{10, 16}}, 10, 16},
  };
  for (const auto& [name, type, size, alignment] : cases) {
    const auto layout = store.layoutOf(add(store, type));
    ASSERT_TRUE(layout) << name;
    EXPECT_EQ(layout->size, size) << name;
    EXPECT_EQ(layout->alignment, alignment) << name;
  }
}

TEST(TypeStore, LayoutFailures) {
  TypeStore store;
  const std::uint32_t u16 = integer(store, 16);
  const std::uint32_t zero_bits = integer(store, 0);
  const std::uint32_t wide = integer(store, 65);
  const std::uint32_t huge = array(store, std::uint64_t{1} << 63, u16);
  const std::uint32_t inner_overflow_outer_zero = array(store, 0, huge);
  const std::uint32_t nested = array(store, std::uint64_t{1} << 40, array(store, std::uint64_t{1} << 30, u16));
  const std::uint32_t of_missing = array(store, 2, 99);
  const std::uint32_t of_bad_bits = array(store, 2, zero_bits);
  const std::uint32_t looping = array(store, 2, static_cast<std::uint32_t>(store.size()));
  const std::tuple<const char*, std::uint32_t, Error> cases[] = {
      {"id beyond the store", 1000, Error::InvalidType},
      {"0-bit integer", zero_bits, Error::InvalidIntegerBits},
      {"65-bit integer", wide, Error::InvalidIntegerBits},
      {"array size overflow", huge, Error::IntegerOverflow},
      {"inner array overflows first", inner_overflow_outer_zero, Error::IntegerOverflow},
      {"nested product overflow", nested, Error::IntegerOverflow},
      {"element beyond the store", of_missing, Error::InvalidType},
      {"element error passes through", of_bad_bits, Error::InvalidIntegerBits},
      {"array of itself", looping, Error::InvalidType},
  };
  for (const auto& [name, id, error] : cases) {
    const auto layout = store.layoutOf(id);
    ASSERT_FALSE(layout) << name;
    EXPECT_EQ(errorOf(layout), error) << name;
  }
}

TEST(LayOutAggregate, LayoutTable) {
  const struct {
    const char* name;
    std::vector<std::uint16_t> field_bits;
    bool is_union;
    bool packed;
    std::vector<std::uint64_t> offsets;
    std::uint64_t size;
    std::uint64_t alignment;
  } cases[] = {
      {"{u8, u32, u16}", {8, 32, 16}, false, false, {0, 4, 8}, 12, 4},
      {"packed {u8, u32, u16}", {8, 32, 16}, false, true, {0, 1, 5}, 7, 4},
      {"union {u8, u32, u16}", {8, 32, 16}, true, false, {0, 0, 0}, 4, 4},
      {"{u32, u8}", {32, 8}, false, false, {0, 4}, 8, 4},
      {"packed {u32, u8}", {32, 8}, false, true, {0, 4}, 5, 4},
      {"{u8, u24}", {8, 24}, false, false, {0, 4}, 8, 4},
      {"union {u24, u8}", {24, 8}, true, false, {0, 0}, 4, 4},
      {"packed union {u24, u8}", {24, 8}, true, true, {0, 0}, 3, 4},
      {"{u8, u64, u8}", {8, 64, 8}, false, false, {0, 8, 16}, 24, 8},
      {"{}", {}, false, false, {}, 0, 1},
  };
  for (const auto& entry : cases) {
    TypeStore store;
    std::vector<StructField> fields;
    for (std::size_t index = 0; index < entry.field_bits.size(); ++index)
      fields.push_back(StructField{std::string(1, static_cast<char>('a' + index)), 99, std::nullopt,
                                   integer(store, entry.field_bits[index])});
    const auto aggregate = layOutAggregate(store, "T", std::move(fields), entry.is_union, entry.packed);
    ASSERT_TRUE(aggregate) << entry.name;
    SCOPED_TRACE(entry.name);
    EXPECT_EQ(aggregate->size, entry.size);
    EXPECT_EQ(aggregate->alignment, entry.alignment);
    EXPECT_EQ(aggregate->packed, entry.packed);
    std::vector<std::uint64_t> offsets;
    for (const auto& field : aggregate->fields) offsets.push_back(field.offset);
    EXPECT_EQ(offsets, entry.offsets);

    // Stored, the aggregate reports the same layout and its kind.
    const std::uint32_t id = add(store, Type{*aggregate});
    EXPECT_EQ(store.find(id)->kind(), entry.is_union ? TypeKind::union_ : TypeKind::struct_);
    const auto layout = store.layoutOf(id);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->size, entry.size);
  }
}

TEST(LayOutAggregate, Failures) {
  TypeStore store;
  const std::uint32_t u8 = integer(store, 8);
  const std::uint32_t u64 = integer(store, 64);
  const std::uint32_t odd = add(store, Type{FixedType{4, 3}});
  const std::uint32_t zero_bits = integer(store, 0);
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::uint32_t giant = add(store, Type{FixedType{max - 2, 1}});
  // Ends 3 bytes below 2^64 after a u64, so only the final rounding overflows.
  const std::uint32_t near_end = add(store, Type{FixedType{max - 10, 1}});
  // name, fields, union, packed, error
  const std::tuple<const char*, std::vector<StructField>, bool, bool, Error> cases[] = {
      {"empty name", {{"", 0, {}, u8}}, false, false, Error::InvalidFieldName},
      {"repeated name", {{"a", 0, {}, u8}, {"a", 0, {}, u64}}, false, false, Error::DuplicateFieldName},
      {"repeated name in a union", {{"a", 0, {}, u8}, {"a", 0, {}, u8}}, true, false, Error::DuplicateFieldName},
      {"name before type", {{"a", 0, {}, u8}, {"a", 0, {}, 500}}, false, false, Error::DuplicateFieldName},
      {"unknown field type", {{"a", 0, {}, 500}}, false, false, Error::InvalidType},
      {"field type without layout", {{"a", 0, {}, zero_bits}}, false, false, Error::InvalidIntegerBits},
      {"alignment not a power of two", {{"a", 0, {}, u8}, {"b", 0, {}, odd}}, false, false, Error::InvalidAlignment},
      {"union rounding to odd alignment", {{"a", 0, {}, odd}}, true, false, Error::InvalidAlignment},
      {"offset overflow", {{"a", 0, {}, giant}, {"b", 0, {}, u64}}, false, false, Error::IntegerOverflow},
      {"packed size overflow", {{"a", 0, {}, giant}, {"b", 0, {}, u64}}, false, true, Error::IntegerOverflow},
      {"final rounding overflow", {{"a", 0, {}, u64}, {"b", 0, {}, near_end}}, false, false, Error::IntegerOverflow},
  };
  for (const auto& [name, original, is_union, packed, error] : cases) {
    std::vector<StructField> fields = original;
    const auto aggregate = layOutAggregate(store, "T", std::move(fields), is_union, packed);
    ASSERT_FALSE(aggregate) << name;
    EXPECT_EQ(errorOf(aggregate), error) << name;
    EXPECT_EQ(fields.size(), original.size()) << name << ": fields stay with the caller";
  }
}

TEST(LayOutAggregate, PackedKeepsOddAlignmentUnchecked) {
  TypeStore store;
  const std::uint32_t odd = add(store, Type{FixedType{4, 3}});
  const auto aggregate = layOutAggregate(store, "P", {{"a", 0, {}, odd}}, false, true);
  ASSERT_TRUE(aggregate);
  EXPECT_EQ(aggregate->size, 4u);
  EXPECT_EQ(aggregate->alignment, 3u);
}

TEST(TypeStore, RemoveLastUndoesAnAdd) {
  TypeStore store;
  store.removeLast();
  integer(store, 8);
  integer(store, 16);
  store.removeLast();
  EXPECT_EQ(store.size(), 1u);
  EXPECT_EQ(store.find(1), nullptr);
}

class TypeNames : public ::testing::Test {
 protected:
  TypeStore store;
  TypeNameTable names;
  TypeTables tables{store, names};

  qovrin::Result<std::uint32_t> declare(std::string_view name, bool is_union) {
    auto aggregate = layOutAggregate(store, name, {}, is_union, false);
    EXPECT_TRUE(aggregate);
    return frontend::type_name::addAggregateType(tables, std::move(*aggregate));
  }
};

TEST_F(TypeNames, FixedIntegerNamesAreCreatedOnce) {
  const std::tuple<const char*, std::uint16_t, bool> cases[] = {
      {"u8", 8, false}, {"u16", 16, false}, {"u32", 32, false}, {"u64", 64, false},
      {"i8", 8, true},  {"i16", 16, true},  {"i32", 32, true},  {"i64", 64, true},
  };
  for (const auto& [name, bits, is_signed] : cases) {
    const auto id = frontend::type_name::resolveNamedOrFixedInteger(tables, name);
    ASSERT_TRUE(id && *id) << name;
    const IntegerType* integer = store.find(**id)->getIf<IntegerType>();
    ASSERT_NE(integer, nullptr) << name;
    EXPECT_EQ(integer->bits, bits) << name;
    EXPECT_EQ(integer->is_signed, is_signed) << name;
    EXPECT_EQ(frontend::type_name::resolveNamedOrFixedInteger(tables, name).value(), *id) << name;
  }
  EXPECT_EQ(store.size(), 8u);
}

TEST_F(TypeNames, UnknownNamesResolveToNothing) {
  for (const char* name : {"u24", "u128", "U8", "I32", "usize", "u", "", "u8 "}) {
    const auto id = frontend::type_name::resolveNamedOrFixedInteger(tables, name);
    ASSERT_TRUE(id) << name;
    EXPECT_FALSE(*id) << name;
  }
  EXPECT_EQ(store.size(), 0u);
}

TEST_F(TypeNames, DeclaredNameShadowsTheInteger) {
  const auto id = declare("u8", false);
  ASSERT_TRUE(id);
  EXPECT_EQ(frontend::type_name::resolveNamedOrFixedInteger(tables, "u8").value(), *id);
  EXPECT_EQ(frontend::type_name::getOrAddIntType(tables, "u8", 8, false), *id);
  EXPECT_EQ(store.size(), 1u);
}

TEST_F(TypeNames, DuplicateAggregateNameLeavesTablesAsTheyWere) {
  ASSERT_TRUE(declare("Header", false));
  auto second = layOutAggregate(store, "Header", {}, true, false);
  ASSERT_TRUE(second);
  EXPECT_EQ(errorOf(frontend::type_name::addAggregateType(tables, std::move(*second))), Error::DuplicateTypeName);
  EXPECT_EQ(second->name, "Header");
  EXPECT_EQ(store.size(), 1u);
  EXPECT_EQ(names.entries().size(), 1u);
  EXPECT_EQ(errorOf(names.registerName("Header", 0)), Error::DuplicateTypeName);
}

TEST_F(TypeNames, TypesKeepTheirAddressWhileMoreAreAdded) {
  const Type* first = store.find(frontend::type_name::getOrAddIntType(tables, "u8", 8, false).value());
  for (int index = 0; index < 1000; ++index)
    ASSERT_TRUE(frontend::type_name::getOrAddIntType(tables, "t" + std::to_string(index), 16, false));
  EXPECT_EQ(store.find(0), first);
  EXPECT_EQ(first->getIf<IntegerType>()->bits, 8u);
  EXPECT_EQ(names.find("t999"), 1000u);
}

// Whichever allocation fails, no type and no name is left behind.
TEST_F(TypeNames, AdditionsAreAllOrNothingUnderAllocationFailure) {
  ASSERT_TRUE(declare("Before", false));
  const auto unchanged = [&](std::size_t types) {
    return [&, types] {
      EXPECT_EQ(store.size(), types);
      EXPECT_EQ(names.entries().size(), types);
    };
  };
  std::uint32_t word = 0;
  EXPECT_GT(frontend::testing::failEachAllocation(
                [&] { word = frontend::type_name::getOrAddIntType(tables, "word", 16, false).value(); }, unchanged(1)),
            0u);
  EXPECT_GT(frontend::testing::failEachAllocation(
                [&] {
                  auto aggregate = layOutAggregate(store, "Packet", {{"a", 0, {}, word}}, false, false);
                  ASSERT_TRUE(aggregate);
                  ASSERT_TRUE(frontend::type_name::addAggregateType(tables, std::move(*aggregate)));
                },
                unchanged(2)),
            0u);
  EXPECT_EQ(names.find("Packet"), 2u);
}

}  // namespace
