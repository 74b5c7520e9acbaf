#include "frontend/values/value_pack.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "common/error_of.hpp"

using qovrin::testing::errorOf;

namespace {

using frontend::types::ArrayType;
using frontend::types::FixedType;
using frontend::types::IntegerType;
using frontend::types::layOutAggregate;
using frontend::types::StructField;
using frontend::types::Type;
using frontend::types::TypeStore;
using frontend::value::Bytes;
using frontend::value::packStructValue;
using frontend::value::StructValue;
using frontend::value::StructValueField;
using frontend::value::Value;
using frontend::value::writeIntegerField;
using qovrin::Error;

constexpr std::uint64_t negative(std::int64_t number) { return static_cast<std::uint64_t>(number); }

// Types shared by the vectors below, declared once per test.
class Packing : public ::testing::Test {
 protected:
  TypeStore store;
  std::uint32_t u8 = integer(8, false);
  std::uint32_t u16 = integer(16, false);
  std::uint32_t u32 = integer(32, false);
  std::uint32_t u64 = integer(64, false);
  std::uint32_t i16 = integer(16, true);
  std::uint32_t i64 = integer(64, true);
  std::uint32_t u24 = integer(24, false);
  std::uint32_t blob = add(Type{FixedType{4, 4}});
  std::uint32_t u16x2 = add(Type{ArrayType{2, u16}});

  std::uint32_t add(Type type) {
    const auto id = store.add(std::move(type));
    EXPECT_TRUE(id);
    return *id;
  }

  std::uint32_t integer(std::uint16_t bits, bool is_signed) { return add(Type{IntegerType{bits, is_signed}}); }

  std::uint32_t aggregate(std::vector<std::pair<std::string, std::uint32_t>> members, bool is_union = false,
                          bool packed = false) {
    std::vector<StructField> fields;
    for (const auto& [name, type_id] : members) fields.push_back(StructField{name, 0, std::nullopt, type_id});
    auto laid_out = layOutAggregate(store, "T", std::move(fields), is_union, packed);
    EXPECT_TRUE(laid_out);
    return add(Type{std::move(*laid_out)});
  }
};

Value word(std::uint64_t number) { return Value::integer(number); }

StructValue structure(std::uint32_t type_id, std::vector<std::pair<std::string, Value>> fields) {
  std::vector<StructValueField> built;
  for (auto& [name, value] : fields) built.push_back(StructValueField{name, std::move(value)});
  auto made = StructValue::make(type_id, std::move(built));
  EXPECT_TRUE(made);
  return std::move(*made);
}

TEST_F(Packing, Vectors) {
  const std::uint32_t pair = aggregate({{"a", u8}, {"b", u32}});
  const std::uint32_t packed_pair = aggregate({{"a", u8}, {"b", u32}}, false, true);
  const std::uint32_t either = aggregate({{"x", u16}, {"y", u32}}, true);
  const std::uint32_t signed_pair = aggregate({{"s", i16}, {"t", i64}});
  const std::uint32_t inner = aggregate({{"lo", u8}, {"hi", u16}});
  const std::uint32_t outer = aggregate({{"tag", u8}, {"body", inner}, {"end", u64}});
  const std::uint32_t empty = aggregate({});
  const std::tuple<const char*, StructValue, Bytes> cases[] = {
      {"struct {u8, u32}", structure(pair, {{"a", word(1)}, {"b", word(0x1234)}}), {0x01, 0, 0, 0, 0x34, 0x12, 0, 0}},
      {"reordered", structure(pair, {{"b", word(0x1234)}, {"a", word(1)}}), {0x01, 0, 0, 0, 0x34, 0x12, 0, 0}},
      {"packed", structure(packed_pair, {{"a", word(1)}, {"b", word(0x1234)}}), {0x01, 0x34, 0x12, 0, 0}},
      {"union, second member", structure(either, {{"y", word(0x0304)}}), {0x04, 0x03, 0, 0}},
      {"union, first member", structure(either, {{"x", word(0x0102)}}), {0x02, 0x01, 0, 0}},
      {"signed",
       structure(signed_pair, {{"s", word(negative(-2))}, {"t", word(negative(-1))}}),
       {0xFE, 0xFF, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"nested struct",
       structure(outer, {{"tag", word(0xAA)},
                         {"body", Value(structure(inner, {{"lo", word(0x11)}, {"hi", word(0x2233)}}))},
                         {"end", word(0x0102030405060708)}}),
       {0xAA, 0, 0x11, 0, 0x33, 0x22, 0, 0, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
      {"no fields", structure(empty, {}), {}},
  };
  for (const auto& [name, value, expected] : cases) {
    const auto bytes = packStructValue(store, value);
    ASSERT_TRUE(bytes) << name << ": " << qovrin::errorName(bytes.error());
    EXPECT_EQ(*bytes, expected) << name;
  }
}

TEST_F(Packing, Failures) {
  const std::uint32_t pair = aggregate({{"a", u8}, {"b", u32}});
  const std::uint32_t either = aggregate({{"x", u16}, {"y", u32}}, true);
  const std::uint32_t odd = aggregate({{"w", u24}});
  const std::uint32_t with_blob = aggregate({{"b", blob}});
  const std::uint32_t with_array = aggregate({{"a", u16x2}});
  const std::uint32_t inner = aggregate({{"v", u8}});
  const std::uint32_t other_inner = aggregate({{"v", u8}});
  const std::uint32_t outer = aggregate({{"in", inner}});
  const std::tuple<const char*, StructValue, Error> cases[] = {
      {"u8 holding 256", structure(pair, {{"a", word(256)}, {"b", word(0)}}), Error::InvalidApiInteger},
      {"missing field", structure(pair, {{"a", word(1)}, {"c", word(0)}}), Error::MissingStructFieldValue},
      {"one field too few", structure(pair, {{"a", word(1)}}), Error::InvalidApiArgument},
      {"too many", structure(pair, {{"a", word(1)}, {"b", word(2)}, {"c", word(3)}}), Error::InvalidApiArgument},
      {"float", structure(pair, {{"a", Value::float64(1.0)}, {"b", word(2)}}), Error::InvalidApiArgument},
      {"union with two fields", structure(either, {{"x", word(1)}, {"y", word(2)}}), Error::InvalidApiArgument},
      {"union with no fields", structure(either, {}), Error::InvalidApiArgument},
      {"union member unknown", structure(either, {{"z", word(1)}}), Error::InvalidApiArgument},
      {"24-bit field", structure(odd, {{"w", word(1)}}), Error::InvalidIntegerBits},
      {"24-bit range checked first", structure(odd, {{"w", word(1 << 24)}}), Error::InvalidApiInteger},
      {"blob field", structure(with_blob, {{"b", word(0)}}), Error::InvalidType},
      {"array field", structure(with_array, {{"a", word(0)}}), Error::InvalidType},
      {"integer in a struct field", structure(outer, {{"in", word(0)}}), Error::InvalidApiArgument},
      {"other type", structure(outer, {{"in", Value(structure(other_inner, {{"v", word(1)}}))}}), Error::InvalidType},
      {"nested", structure(outer, {{"in", Value(structure(inner, {{"v", word(300)}}))}}), Error::InvalidApiInteger},
      {"value of an integer type", structure(u8, {}), Error::ExpectedStruct},
      {"unknown type", structure(900, {}), Error::InvalidType},
  };
  for (const auto& [name, value, error] : cases) {
    const auto bytes = packStructValue(store, value);
    ASSERT_FALSE(bytes) << name;
    EXPECT_EQ(errorOf(bytes), error) << name << ": " << qovrin::errorName(bytes.error());
  }
}

TEST_F(Packing, HugeLayoutsAreRefusedBeforeAllocating) {
  const std::uint32_t giant_array = add(Type{ArrayType{std::uint64_t{1} << 40, u8}});
  const std::uint32_t with_giant_array = aggregate({{"a", giant_array}});
  EXPECT_EQ(errorOf(packStructValue(store, structure(with_giant_array, {{"a", word(0)}}))), Error::InvalidType);

  // A valid value whose union carries a huge member it does not set.
  const std::uint32_t giant_blob = add(Type{FixedType{std::uint64_t{1} << 40, 1}});
  const std::uint32_t roomy = aggregate({{"big", giant_blob}, {"small", u8}}, true);
  EXPECT_EQ(errorOf(packStructValue(store, structure(roomy, {{"small", word(1)}}))), Error::InvalidApiInteger);
}

TEST(WriteIntegerField, ChecksInOrder) {
  std::uint8_t raw[8] = {};
  const std::span<std::uint8_t> buffer(raw);
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  // name, base, offset, word, bits, signed, error
  const std::tuple<const char*, std::uint64_t, std::uint64_t, std::uint64_t, std::uint16_t, bool, Error> cases[] = {
      {"0 bits", 0, 0, 0, 0, false, Error::InvalidIntegerBits},
      {"65 bits", 0, 0, 0, 65, false, Error::InvalidIntegerBits},
      {"range before position", max, 1, 256, 8, false, Error::InvalidApiInteger},
      {"position overflow", max, 1, 1, 8, false, Error::IntegerOverflow},
      {"position before width", max, 1, 1, 24, false, Error::IntegerOverflow},
      {"odd width", 0, 0, 1, 2, false, Error::InvalidIntegerBits},
      {"past the end", 0, 5, 1, 32, false, Error::FragmentTooLarge},
      {"far past the end", 100, 0, 1, 8, false, Error::FragmentTooLarge},
      {"signed out of range", 0, 0, 128, 8, true, Error::InvalidApiInteger},
  };
  for (const auto& [name, base, offset, word, bits, is_signed, error] : cases) {
    const auto result = writeIntegerField(buffer, base, offset, word, bits, is_signed);
    ASSERT_FALSE(result) << name;
    EXPECT_EQ(errorOf(result), error) << name;
  }
  for (std::uint8_t byte : raw) EXPECT_EQ(byte, 0) << "failed writes leave the buffer alone";

  ASSERT_TRUE(writeIntegerField(buffer, 2, 2, 0xA1B2C3D4, 32, false));
  const std::uint8_t expected[8] = {0, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1};
  EXPECT_TRUE(std::equal(std::begin(raw), std::end(raw), std::begin(expected)));
}

}  // namespace
