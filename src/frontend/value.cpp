#include "frontend/value.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

namespace frontend::value {

using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::array<std::string_view, 12> kKindNames = {
    "void", "integer", "float32", "float64", "boolean", "string", "bytes", "type", "struct", "list", "map", "operand",
};

// Depth of a container whose deepest child has child_depth.
qovrin::Result<std::uint32_t> containerDepth(std::uint32_t child_depth) {
  if (child_depth >= kMaxNestingDepth) return fail(Error::NestingTooDeep);
  return child_depth + 1;
}

std::uint32_t deepestItem(std::span<const Value> items) noexcept {
  std::uint32_t deepest = 0;
  for (const Value& item : items) deepest = std::max(deepest, item.depth());
  return deepest;
}

template <typename Entry>
std::uint32_t deepestEntry(std::span<const Entry> entries) noexcept {
  std::uint32_t deepest = 0;
  for (const Entry& entry : entries) deepest = std::max(deepest, entry.value.depth());
  return deepest;
}

}  // namespace

std::string_view kindName(ValueKind kind) noexcept { return kKindNames[static_cast<std::size_t>(kind)]; }

std::uint32_t Value::depth() const noexcept {
  switch (kind()) {
    case ValueKind::struct_:
      return std::get<StructValue>(storage_).depth();
    case ValueKind::list:
      return std::get<ListValue>(storage_).depth();
    case ValueKind::map:
      return std::get<MapValue>(storage_).depth();
    case ValueKind::operand:
      return std::get<OperandValue>(storage_).depth();
    default:
      return 0;
  }
}

std::uint64_t Value::operandCaptureDepth() const noexcept {
  std::uint64_t deepest = 0;
  switch (kind()) {
    case ValueKind::operand:
      for (const OperandPiece& piece : std::get<OperandValue>(storage_).pieces())
        deepest = std::max(deepest, piece.environment->capture_depth);
      break;
    case ValueKind::struct_:
      for (const StructValueField& field : std::get<StructValue>(storage_).fields())
        deepest = std::max(deepest, field.value.operandCaptureDepth());
      break;
    case ValueKind::list:
      for (const Value& item : std::get<ListValue>(storage_).items())
        deepest = std::max(deepest, item.operandCaptureDepth());
      break;
    case ValueKind::map:
      for (const MapEntry& entry : std::get<MapValue>(storage_).entries())
        deepest = std::max(deepest, entry.value.operandCaptureDepth());
      break;
    default:
      break;
  }
  return deepest;
}

qovrin::Result<StructValue> StructValue::make(std::uint32_t type_id, std::vector<StructValueField>&& fields) {
  const auto depth = containerDepth(deepestEntry<StructValueField>(fields));
  if (!depth) return fail(depth.error());
  StructValue result;
  result.fields_ = std::move(fields);
  result.type_id_ = type_id;
  result.depth_ = *depth;
  return result;
}

const Value* StructValue::fieldValueByName(std::string_view name) const noexcept {
  for (const StructValueField& field : fields_)
    if (field.name == name) return &field.value;
  return nullptr;
}

qovrin::Status StructValue::setFieldValue(std::size_t index, Value&& value) {
  if (index >= fields_.size()) return fail(Error::InvalidArgument);
  if (value.depth() >= kMaxNestingDepth) return fail(Error::NestingTooDeep);
  fields_[index].value = std::move(value);
  depth_ = deepestEntry<StructValueField>(fields_) + 1;
  return {};
}

qovrin::Result<ListValue> ListValue::make(std::vector<Value>&& items) {
  const auto depth = containerDepth(deepestItem(items));
  if (!depth) return fail(depth.error());
  ListValue result;
  result.items_ = std::move(items);
  result.depth_ = *depth;
  return result;
}

qovrin::Status ListValue::push(Value&& item) {
  const auto depth = containerDepth(item.depth());
  if (!depth) return fail(depth.error());
  items_.push_back(std::move(item));
  depth_ = std::max(depth_, *depth);
  return {};
}

qovrin::Status ListValue::set(std::size_t index, Value&& item) {
  if (index >= items_.size()) return fail(Error::InvalidArgument);
  if (item.depth() >= kMaxNestingDepth) return fail(Error::NestingTooDeep);
  items_[index] = std::move(item);
  depth_ = deepestItem(items_) + 1;
  return {};
}

std::vector<Value> ListValue::takeItems() noexcept {
  depth_ = 1;
  return std::exchange(items_, {});
}

const Value* MapValue::find(std::string_view key) const noexcept {
  for (const MapEntry& entry : entries_)
    if (entry.key == key) return &entry.value;
  return nullptr;
}

qovrin::Status MapValue::set(std::string_view key, Value&& value) {
  const auto depth = containerDepth(value.depth());
  if (!depth) return fail(depth.error());
  for (MapEntry& entry : entries_) {
    if (entry.key != key) continue;
    entry.value = std::move(value);
    depth_ = deepestEntry<MapEntry>(entries_) + 1;
    return {};
  }
  if (entries_.size() >= entries_.max_size()) return fail(Error::CollectionTooLarge);
  entries_.push_back(MapEntry{std::string(key), std::move(value)});
  depth_ = std::max(depth_, *depth);
  return {};
}

qovrin::Status MapValue::setCloned(std::string_view key, const Value& value) {
  // The copy is made before the map changes, so a failed copy leaves it whole.
  Value copy = value;
  return set(key, std::move(copy));
}

qovrin::Result<OperandValue> OperandValue::make(std::vector<OperandPiece>&& pieces) {
  std::uint32_t deepest = 0;
  for (const OperandPiece& piece : pieces) {
    // A piece without an environment is a fault of the capturing code, never
    // of the source being assembled.
    if (!piece.environment) std::abort();
    deepest = std::max(deepest, piece.environment->bindings.depth());
  }
  const auto depth = containerDepth(deepest);
  if (!depth) return fail(depth.error());
  OperandValue result;
  result.pieces_ = std::move(pieces);
  result.depth_ = *depth;
  return result;
}

std::string OperandValue::text() const {
  std::size_t length = 0;
  for (const OperandPiece& piece : pieces_) length += piece.text.size();
  std::string joined;
  joined.reserve(length);
  for (const OperandPiece& piece : pieces_) joined += piece.text;
  return joined;
}

}  // namespace frontend::value
