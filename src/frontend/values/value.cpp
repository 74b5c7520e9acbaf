#include "frontend/values/value.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <functional>
#include <utility>

#include "common/work_stack.hpp"

namespace frontend::value {

using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::array<std::string_view, 12> kKindNames = {
    "void", "integer", "float32", "float64", "boolean", "string", "bytes", "type", "struct", "list", "map", "operand",
};

// Items to append to stored: items themselves, or copies of them when they
// lie in stored, which moves when it grows.
template <typename T>
std::span<const T> outsideStorage(const std::vector<T>* stored, std::span<const T> items, std::vector<T>& copies) {
  if (stored == nullptr || !std::less_equal<const T*>{}(stored->data(), items.data()) ||
      !std::less<const T*>{}(items.data(), stored->data() + stored->size()))
    return items;
  copies.assign(items.begin(), items.end());
  return copies;
}

// Whether a container may hold a child this deep: within the limit, and
// within what the stack of a run on a small one can walk.
bool childDepthFits(std::uint32_t child_depth) noexcept {
  return child_depth < kMaxNestingDepth && qovrin::workStackHoldsLevels(child_depth + 1);
}

// Depth of a container whose deepest child has child_depth.
qovrin::Result<std::uint32_t> containerDepth(std::uint32_t child_depth) {
  if (!childDepthFits(child_depth)) return fail(Error::NestingTooDeep);
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

// Puts value in slot and keeps the container's depth exact; the children are
// rescanned only when the replaced child was one of the deepest.
template <typename Rescan>
void replaceChild(Value& slot, Value&& value, std::uint32_t& container_depth, Rescan rescan) noexcept {
  const std::uint32_t old_depth = slot.depth();
  const std::uint32_t new_depth = value.depth();
  slot = std::move(value);
  if (new_depth + 1 >= container_depth)
    container_depth = new_depth + 1;
  else if (old_depth + 1 == container_depth)
    container_depth = rescan() + 1;
}

}  // namespace

std::string_view kindName(ValueKind kind) noexcept { return kKindNames[static_cast<std::size_t>(kind)]; }

std::string kindWithArticle(ValueKind kind) {
  const std::string_view name = kindName(kind);
  const bool vowel = std::string_view("aeiou").find(name.front()) != std::string_view::npos;
  return (vowel ? "an " : "a ") + std::string(name);
}

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
  // An operand is a container itself, so one of depth 1 holds only scalars:
  // a long list of numbers is not searched for operands at every capture.
  if (kind() != ValueKind::operand && depth() <= 1) return 0;
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

qovrin::Result<ListValue> ListValue::make(std::vector<Value>&& items) {
  const auto depth = containerDepth(deepestItem(items));
  if (!depth) return fail(depth.error());
  ListValue result;
  result.size_ = items.size();
  result.depth_ = *depth;
  if (!items.empty()) result.items_ = SharedStorage<std::vector<Value>>(std::move(items));
  return result;
}

// An append goes into storage others share only when it leaves this list's
// depth as it is. Every holder then reads a prefix of the items and is at
// least as deep as any item stored, those past its end included: a value is
// never deeper than its depth says, so a walk over it stays within the
// nesting limit, and no item can hold the storage it is stored in, which
// would be a cycle no count frees.
std::vector<Value>& ListValue::growable(std::uint32_t needed_depth, std::size_t incoming) {
  if (items_.shared() && items_.get()->size() == size_ && needed_depth <= depth_) return items_.appendable();
  std::vector<Value>& items = items_.own([this, incoming](const std::vector<Value>& shared) {
    std::vector<Value> copy;
    copy.reserve(std::max(size_ * 2, size_ + incoming));
    copy.insert(copy.end(), shared.begin(), shared.begin() + static_cast<std::ptrdiff_t>(size_));
    return copy;
  });
  // Alone with the storage: what other holders appended past this list's end
  // is nobody's any more.
  items.resize(size_);
  return items;
}

void ListValue::reserve(std::size_t count) { growable(depth_, 0).reserve(count); }

qovrin::Status ListValue::push(Value&& item) {
  const auto depth = containerDepth(item.depth());
  if (!depth) return fail(depth.error());
  growable(*depth, 1).push_back(std::move(item));
  ++size_;
  depth_ = std::max(depth_, *depth);
  return {};
}

qovrin::Status ListValue::append(std::span<const Value> items) {
  const auto depth = containerDepth(deepestItem(items));
  if (!depth) return fail(depth.error());
  if (items.empty()) return {};
  std::vector<Value> copies;
  const std::span<const Value> source = outsideStorage(items_.get(), items, copies);
  std::vector<Value>& target = growable(*depth, source.size());
  target.insert(target.end(), source.begin(), source.end());
  size_ += source.size();
  depth_ = std::max(depth_, *depth);
  return {};
}

qovrin::Status ListValue::set(std::size_t index, Value&& item) {
  if (index >= size_) return fail(Error::InvalidArgument);
  if (!childDepthFits(item.depth())) return fail(Error::NestingTooDeep);
  std::vector<Value>& items = items_.own([this](const std::vector<Value>& shared) {
    return std::vector<Value>(shared.begin(), shared.begin() + static_cast<std::ptrdiff_t>(size_));
  });
  items.resize(size_);
  replaceChild(items[index], std::move(item), depth_, [&items] { return deepestItem(items); });
  return {};
}

BytesValue::BytesValue(Bytes&& bytes) : size_(bytes.size()) {
  if (!bytes.empty()) bytes_ = SharedStorage<Bytes>(std::move(bytes));
}

void BytesValue::append(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  const Bytes* stored = bytes_.get();
  Bytes copies;
  const std::span<const std::uint8_t> source = outsideStorage(stored, bytes, copies);
  if (bytes_.shared() && stored->size() == size_) {
    Bytes& shared = bytes_.appendable();
    shared.insert(shared.end(), source.begin(), source.end());
  } else {
    Bytes& owned = bytes_.own([this, source](const Bytes& shared) {
      Bytes copy;
      copy.reserve(std::max(size_ * 2, size_ + source.size()));
      copy.insert(copy.end(), shared.begin(), shared.begin() + static_cast<std::ptrdiff_t>(size_));
      return copy;
    });
    owned.resize(size_);
    owned.insert(owned.end(), source.begin(), source.end());
  }
  size_ += source.size();
}

bool operator==(const BytesValue& left, const BytesValue& right) noexcept {
  return std::ranges::equal(left.span(), right.span());
}

namespace {

// Below this many entries a map is scanned; from it on, hashed.
constexpr std::size_t kIndexedMapSize = 16;

std::size_t slotOf(std::string_view key, std::size_t mask) noexcept { return std::hash<std::string_view>{}(key)&mask; }

}  // namespace

MapIndex::MapIndex(std::size_t slot_count) : table_(std::make_unique<std::uint32_t[]>(slot_count + 1)) {
  table_[0] = static_cast<std::uint32_t>(slot_count);
}

MapIndex::MapIndex(const MapIndex& other) {
  if (other.empty()) return;
  const std::size_t length = other.slotCount() + 1;
  table_ = std::make_unique_for_overwrite<std::uint32_t[]>(length);
  std::copy_n(other.table_.get(), length, table_.get());
}

MapIndex& MapIndex::operator=(const MapIndex& other) {
  if (this != &other) *this = MapIndex(other);
  return *this;
}

std::size_t MapValue::positionOf(std::string_view key) const noexcept {
  const Table* table = table_.get();
  if (table == nullptr) return 0;
  const std::vector<MapEntry>& entries = table->entries;
  if (table->index.empty()) {
    for (std::size_t position = 0; position < size_; ++position)
      if (entries[position].key == key) return position;
    return size_;
  }
  // The index also holds the entries other holders appended past this map's
  // end; a key is stored once in the table, so one of those is not here.
  const auto slots = table->index.slots();
  const std::size_t mask = slots.size() - 1;
  for (std::size_t slot = slotOf(key, mask);; slot = (slot + 1) & mask) {
    const std::uint32_t mark = slots[slot];
    if (mark == 0) return size_;
    if (entries[mark - 1].key == key) return std::min<std::size_t>(mark - 1, size_);
  }
}

void MapValue::indexPosition(Table& table, std::size_t position) noexcept {
  const auto slots = table.index.slots();
  const std::size_t mask = slots.size() - 1;
  std::size_t slot = slotOf(table.entries[position].key, mask);
  while (slots[slot] != 0) slot = (slot + 1) & mask;
  slots[slot] = static_cast<std::uint32_t>(position + 1);
}

// Makes room in the index for count entries (at most half the slots used),
// rebuilding it from the entries already stored; allocates before anything
// changes, so a failure leaves the index as it was.
void MapValue::prepareIndexFor(Table& table, std::size_t count) {
  if (count < kIndexedMapSize || count * 2 <= table.index.slots().size()) return;
  table.index = MapIndex(std::bit_ceil(count * 4));
  for (std::size_t position = 0; position < table.entries.size(); ++position) indexPosition(table, position);
}

MapValue::Table& MapValue::owned() {
  Table& table = table_.own([this](const Table& shared) {
    Table copy;
    copy.entries.assign(shared.entries.begin(), shared.entries.begin() + static_cast<std::ptrdiff_t>(size_));
    prepareIndexFor(copy, size_);
    return copy;
  });
  // Alone with the table: what other holders appended past this map's end
  // is nobody's any more, and leaves the index.
  if (table.entries.size() > size_) {
    table.entries.erase(table.entries.begin() + static_cast<std::ptrdiff_t>(size_), table.entries.end());
    table.index = MapIndex();
    prepareIndexFor(table, size_);
  }
  return table;
}

// As ListValue::growable: a new key goes into the table others share when
// every holder reads a prefix of it and the map gets no deeper.
MapValue::Table& MapValue::growable(std::uint32_t needed_depth) {
  if (table_.shared() && table_.get()->entries.size() == size_ && needed_depth <= depth_) return table_.appendable();
  return owned();
}

const Value* MapValue::find(std::string_view key) const noexcept {
  const std::size_t position = positionOf(key);
  const auto stored = entries();
  return position < stored.size() ? &stored[position].value : nullptr;
}

qovrin::Status MapValue::set(std::string_view key, Value&& value) {
  const auto depth = containerDepth(value.depth());
  if (!depth) return fail(depth.error());
  const std::size_t position = positionOf(key);
  if (position < size_) {
    std::vector<MapEntry>& entries = owned().entries;
    replaceChild(entries[position].value, std::move(value), depth_,
                 [&entries] { return deepestEntry<MapEntry>(entries); });
    return {};
  }
  if (size_ >= kMaxEntries) return fail(Error::CollectionTooLarge);
  Table& table = growable(*depth);
  std::vector<MapEntry>& entries = table.entries;
  // Everything that allocates runs before the value is taken.
  MapEntry entry{std::string(key), Value()};
  if (entries.size() == entries.capacity()) entries.reserve(std::max<std::size_t>(8, entries.capacity() * 2));
  prepareIndexFor(table, entries.size() + 1);
  entry.value = std::move(value);
  entries.push_back(std::move(entry));
  if (!table.index.empty()) indexPosition(table, entries.size() - 1);
  ++size_;
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
