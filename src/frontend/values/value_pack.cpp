#include "frontend/values/value_pack.hpp"

namespace frontend::value {

using qovrin::Error;
using qovrin::fail;

namespace {

// Where packing writes. Without data it only checks, against the length, so
// that a whole value can be validated before its image is allocated.
struct Sink {
  std::uint8_t* data = nullptr;
  std::uint64_t length = 0;
};

Sink sinkOf(std::span<std::uint8_t> buffer) noexcept { return Sink{buffer.data(), buffer.size()}; }

qovrin::Status packAggregate(const types::TypeStore& store, Sink sink, std::uint64_t base_offset,
                             const StructValue& value);

qovrin::Status writeInteger(Sink sink, std::uint64_t base_offset, std::uint64_t field_offset, std::uint64_t word,
                            std::uint16_t bits, bool is_signed) {
  if (bits == 0 || bits > 64) return fail(Error::InvalidIntegerBits);
  if (!types::integerFits(word, types::IntegerType{bits, is_signed})) return fail(Error::InvalidApiInteger);
  std::uint64_t position = 0;
  if (__builtin_add_overflow(base_offset, field_offset, &position)) return fail(Error::IntegerOverflow);
  if (bits != 8 && bits != 16 && bits != 32 && bits != 64) return fail(Error::InvalidIntegerBits);
  const std::uint64_t width = bits / 8u;
  if (position > sink.length || sink.length - position < width) return fail(Error::FragmentTooLarge);
  if (sink.data != nullptr)
    for (std::uint64_t index = 0; index < width; ++index)
      sink.data[position + index] = static_cast<std::uint8_t>(word >> (8 * index));
  return {};
}

qovrin::Status writeField(const types::TypeStore& store, Sink sink, std::uint64_t base_offset,
                          std::uint64_t field_offset, std::uint32_t field_type_id, const Value& field_value) {
  const types::Type* type = store.find(field_type_id);
  if (type == nullptr) return fail(Error::InvalidType);
  switch (type->kind()) {
    case types::TypeKind::struct_:
    case types::TypeKind::union_: {
      const StructValue* nested = field_value.asStruct();
      if (nested == nullptr) return fail(Error::InvalidApiArgument);
      if (nested->typeId() != field_type_id) return fail(Error::InvalidType);
      std::uint64_t position = 0;
      if (__builtin_add_overflow(base_offset, field_offset, &position)) return fail(Error::IntegerOverflow);
      return packAggregate(store, sink, position, *nested);
    }
    case types::TypeKind::integer: {
      const IntegerValue* integer = field_value.asInteger();
      if (integer == nullptr) return fail(Error::InvalidApiArgument);
      const types::IntegerType& integer_type = std::get<types::IntegerType>(type->data);
      return writeInteger(sink, base_offset, field_offset, integer->word, integer_type.bits, integer_type.is_signed);
    }
    default:
      return fail(Error::InvalidType);
  }
}

const StructValueField* firstFieldNamed(std::span<const StructValueField> fields, std::string_view name) noexcept {
  for (const StructValueField& field : fields)
    if (field.name == name) return &field;
  return nullptr;
}

qovrin::Status packAggregate(const types::TypeStore& store, Sink sink, std::uint64_t base_offset,
                             const StructValue& value) {
  const types::Type* type = store.find(value.typeId());
  if (type == nullptr) return fail(Error::InvalidType);
  const types::AggregateType* aggregate = type->getIf<types::AggregateType>();
  if (aggregate == nullptr) return fail(Error::ExpectedStruct);
  const auto fields = value.fields();

  if (aggregate->is_union) {
    if (fields.size() != 1) return fail(Error::InvalidApiArgument);
    for (const types::StructField& member : aggregate->fields)
      if (member.name == fields[0].name)
        return writeField(store, sink, base_offset, member.offset, member.type_id, fields[0].value);
    return fail(Error::InvalidApiArgument);
  }

  if (fields.size() != aggregate->fields.size()) return fail(Error::InvalidApiArgument);
  // Values built from literals hold their fields in declared order. While
  // they do, the field at the member's position is the first one with its
  // name (declared names are unique), so a wide struct packs in linear time.
  bool in_order = true;
  for (std::size_t index = 0; index < aggregate->fields.size(); ++index) {
    const types::StructField& member = aggregate->fields[index];
    in_order = in_order && fields[index].name == member.name;
    const StructValueField* given = in_order ? &fields[index] : firstFieldNamed(fields, member.name);
    if (given == nullptr) return fail(Error::MissingStructFieldValue);
    QOVRIN_TRY(writeField(store, sink, base_offset, member.offset, member.type_id, given->value));
  }
  return {};
}

}  // namespace

qovrin::Result<Bytes> packStructValue(const types::TypeStore& store, const StructValue& value) {
  const auto layout = store.layoutOf(value.typeId());
  if (!layout) return fail(layout.error());
  QOVRIN_TRY(packAggregate(store, Sink{nullptr, layout->size}, 0, value));
  if (layout->size > kMaxPackedSize) return fail(Error::InvalidApiInteger);
  Bytes image(static_cast<std::size_t>(layout->size), 0);
  QOVRIN_TRY(packAggregate(store, sinkOf(image), 0, value));
  return image;
}

qovrin::Status packAggregateInto(const types::TypeStore& store, std::span<std::uint8_t> buffer,
                                 std::uint64_t base_offset, const StructValue& value) {
  return packAggregate(store, sinkOf(buffer), base_offset, value);
}

qovrin::Status writeFieldValue(const types::TypeStore& store, std::span<std::uint8_t> buffer, std::uint64_t base_offset,
                               std::uint64_t field_offset, std::uint32_t field_type_id, const Value& field_value) {
  return writeField(store, sinkOf(buffer), base_offset, field_offset, field_type_id, field_value);
}

qovrin::Status writeIntegerField(std::span<std::uint8_t> buffer, std::uint64_t base_offset, std::uint64_t field_offset,
                                 std::uint64_t word, std::uint16_t bits, bool is_signed) {
  return writeInteger(sinkOf(buffer), base_offset, field_offset, word, bits, is_signed);
}

}  // namespace frontend::value
