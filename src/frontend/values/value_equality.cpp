#include "frontend/values/value.hpp"

namespace frontend::value {

namespace {

bool structsEqual(const StructValue& left, const StructValue& right) noexcept {
  if (left.typeId() != right.typeId()) return false;
  const auto left_fields = left.fields();
  const auto right_fields = right.fields();
  if (left_fields.size() != right_fields.size()) return false;
  for (std::size_t index = 0; index < left_fields.size(); ++index) {
    if (left_fields[index].name != right_fields[index].name) return false;
    if (!valuesEqual(left_fields[index].value, right_fields[index].value)) return false;
  }
  return true;
}

bool listsEqual(const ListValue& left, const ListValue& right) noexcept {
  if (left.size() != right.size()) return false;
  for (std::size_t index = 0; index < left.size(); ++index)
    if (!valuesEqual(left[index], right[index])) return false;
  return true;
}

// Keys are unique within a map, so equal sizes and every left entry found with
// an equal value on the right make the maps equal.
bool mapsEqual(const MapValue& left, const MapValue& right) noexcept {
  if (left.size() != right.size()) return false;
  for (const MapEntry& entry : left.entries()) {
    const Value* other = right.find(entry.key);
    if (other == nullptr || !valuesEqual(entry.value, *other)) return false;
  }
  return true;
}

bool operandsEqual(const OperandValue& left, const OperandValue& right) noexcept {
  const auto left_pieces = left.pieces();
  const auto right_pieces = right.pieces();
  if (left_pieces.size() != right_pieces.size()) return false;
  for (std::size_t index = 0; index < left_pieces.size(); ++index) {
    if (left_pieces[index].environment != right_pieces[index].environment) return false;
    if (left_pieces[index].text != right_pieces[index].text) return false;
  }
  return true;
}

}  // namespace

bool valuesEqual(const Value& left, const Value& right) noexcept {
  if (left.kind() != right.kind()) return false;
  const Value::Storage& a = left.storage();
  const Value::Storage& b = right.storage();
  switch (left.kind()) {
    case ValueKind::void_:
      return true;
    case ValueKind::integer:
      return std::get<IntegerValue>(a).word == std::get<IntegerValue>(b).word;
    case ValueKind::float32:
      return std::get<float>(a) == std::get<float>(b);
    case ValueKind::float64:
      return std::get<double>(a) == std::get<double>(b);
    case ValueKind::boolean:
      return std::get<bool>(a) == std::get<bool>(b);
    case ValueKind::string:
      return std::get<std::string>(a) == std::get<std::string>(b);
    case ValueKind::bytes:
      return std::get<BytesValue>(a) == std::get<BytesValue>(b);
    case ValueKind::type:
      return std::get<TypeValue>(a).id == std::get<TypeValue>(b).id;
    case ValueKind::struct_:
      return structsEqual(std::get<StructValue>(a), std::get<StructValue>(b));
    case ValueKind::list:
      return listsEqual(std::get<ListValue>(a), std::get<ListValue>(b));
    case ValueKind::map:
      return mapsEqual(std::get<MapValue>(a), std::get<MapValue>(b));
    case ValueKind::operand:
      return operandsEqual(std::get<OperandValue>(a), std::get<OperandValue>(b));
  }
  return false;
}

bool sameCollection(const Value& left, const Value& right) noexcept {
  if (const auto *list = left.asList(), *other = right.asList(); list != nullptr && other != nullptr)
    return list->sharesStorageWith(*other) && list->size() == other->size();
  if (const auto *map = left.asMap(), *other = right.asMap(); map != nullptr && other != nullptr)
    return map->sharesStorageWith(*other) && map->size() == other->size();
  if (const auto *bytes = left.asBytes(), *other = right.asBytes(); bytes != nullptr && other != nullptr)
    return bytes->sharesStorageWith(*other) && bytes->size() == other->size();
  return false;
}

}  // namespace frontend::value
