#pragma once
// Values of the meta language: what expressions evaluate to and what locals,
// module values, arguments and builtin results hold.
//
// A Value behaves as if it owned everything reachable from it: a copy never
// sees a later change of the original, nor the original one of the copy.
// Lists, maps and byte strings get there by sharing their storage between
// copies until one of them is written (SharedStorage), so that passing,
// capturing or returning one costs no copy of its contents; operand
// environments are shared by the pieces of one capture. Containers
// (struct, list, map, operand) keep their nesting depth and refuse to grow past
// kMaxNestingDepth, so every recursive walk over a value (copy, equality,
// destruction, rendering) stays well inside the stack whatever a source builds.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/error.hpp"
#include "frontend/values/shared_storage.hpp"
#include "frontend/values/target.hpp"

namespace frontend::value {

// A scalar has depth 0; a container has one more than its deepest child. An
// operand counts the bindings of its environments as children, since they are
// released together with its last piece.
inline constexpr std::uint32_t kMaxNestingDepth = 1024;

// Tag order is part of the language (kind names, annotation checks).
enum class ValueKind : std::uint8_t {
  void_ = 0,
  integer = 1,
  float32 = 2,
  float64 = 3,
  boolean = 4,
  string = 5,
  bytes = 6,
  type = 7,
  struct_ = 8,
  list = 9,
  map = 10,
  operand = 11,
};

// "void", "integer", "float32", ... "operand".
std::string_view kindName(ValueKind kind) noexcept;
// The kind as a note names one value of it: "a list", "an operand".
std::string kindWithArticle(ValueKind kind);

class Value;
struct StructValueField;
struct MapEntry;
struct OperandEnvironment;

struct VoidValue {};

// One 64-bit word, read as signed or unsigned by each operation. type_id is
// set once the value has passed an integer-type annotation.
struct IntegerValue {
  std::uint64_t word = 0;
  std::optional<std::uint32_t> type_id;
};

// A type id into the module's type store.
struct TypeValue {
  std::uint32_t id = 0;
};

using Bytes = std::vector<std::uint8_t>;

class StructValue {
 public:
  StructValue() = default;

  // Fields in declared order. Takes the fields only on success.
  static qovrin::Result<StructValue> make(std::uint32_t type_id, std::vector<StructValueField>&& fields);

  std::uint32_t typeId() const noexcept { return type_id_; }
  std::span<const StructValueField> fields() const noexcept { return fields_; }
  std::uint32_t depth() const noexcept { return depth_; }

  // The first field of that name, or null.
  const Value* fieldValueByName(std::string_view name) const noexcept;

 private:
  std::vector<StructValueField> fields_;
  std::uint32_t type_id_ = 0;
  std::uint32_t depth_ = 1;
};

// A list reads the first size() items of its storage. Copies share the
// storage; a write of an item makes this list's own copy first when it is
// shared, while an append adds to the shared storage in place as long as no
// holder has appended past this list's end and the list gets no deeper (the
// others read fewer items and never see it).
class ListValue {
 public:
  ListValue() = default;

  // Takes the items only on success.
  static qovrin::Result<ListValue> make(std::vector<Value>&& items);

  // Valid until the next append to this list or to any list sharing its
  // storage, which may move the items.
  std::span<const Value> items() const noexcept;
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const Value& operator[](std::size_t index) const noexcept;
  std::uint32_t depth() const noexcept { return depth_; }

  void reserve(std::size_t count);

  // Both take the value only on success (NestingTooDeep; InvalidArgument for
  // an index not below the length).
  qovrin::Status push(Value&& item);
  qovrin::Status set(std::size_t index, Value&& item);

  // Appends copies of the items, which may be this list's own
  // (NestingTooDeep leaves the list as it was).
  qovrin::Status append(std::span<const Value> items);

  // Whether both read the same storage (list identity, not equality).
  bool sharesStorageWith(const ListValue& other) const noexcept { return items_.sameAs(other.items_); }

 private:
  // The storage to append items to that need that depth.
  std::vector<Value>& growable(std::uint32_t needed_depth, std::size_t incoming);

  SharedStorage<std::vector<Value>> items_;
  std::size_t size_ = 0;
  std::uint32_t depth_ = 1;
};

// A byte string: the first size() bytes of its storage, shared between
// copies as a list's items are.
class BytesValue {
 public:
  BytesValue() = default;
  explicit BytesValue(Bytes&& bytes);

  std::span<const std::uint8_t> span() const noexcept {
    const Bytes* stored = bytes_.get();
    return stored == nullptr ? std::span<const std::uint8_t>() : std::span<const std::uint8_t>(stored->data(), size_);
  }
  operator std::span<const std::uint8_t>() const noexcept { return span(); }
  const std::uint8_t* data() const noexcept { return span().data(); }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  auto begin() const noexcept { return span().begin(); }
  auto end() const noexcept { return span().end(); }

  // Appends the bytes, which may be this string's own.
  void append(std::span<const std::uint8_t> bytes);

  bool sharesStorageWith(const BytesValue& other) const noexcept { return bytes_.sameAs(other.bytes_); }

 private:
  SharedStorage<Bytes> bytes_;
  std::size_t size_ = 0;
};

bool operator==(const BytesValue& left, const BytesValue& right) noexcept;

// Open-addressing hash table of map entry positions (position + 1; 0 marks a
// free slot). Empty until a map grows large enough to need it.
class MapIndex {
 public:
  MapIndex() = default;
  explicit MapIndex(std::size_t slot_count);
  MapIndex(const MapIndex& other);
  MapIndex& operator=(const MapIndex& other);
  MapIndex(MapIndex&&) noexcept = default;
  MapIndex& operator=(MapIndex&&) noexcept = default;
  ~MapIndex() = default;

  bool empty() const noexcept { return table_ == nullptr; }
  std::span<std::uint32_t> slots() noexcept { return {slotData(), slotCount()}; }
  std::span<const std::uint32_t> slots() const noexcept { return {slotData(), slotCount()}; }

 private:
  std::size_t slotCount() const noexcept { return table_ ? table_[0] : 0; }
  std::uint32_t* slotData() const noexcept { return table_ ? table_.get() + 1 : nullptr; }

  // table_[0] holds the slot count, the slots follow; one pointer keeps maps
  // (and so every Value) small.
  std::unique_ptr<std::uint32_t[]> table_;
};

// String-keyed table in insertion order. Keys are unique and compared byte
// for byte. Larger maps keep a hash index of entry positions, since operand
// environments copy every visible binding into one map per macro call.
class MapValue {
 public:
  // Bounded so that the index's slot count fits its 32-bit header.
  static constexpr std::size_t kMaxEntries = std::size_t{1} << 29;

  MapValue() = default;

  std::span<const MapEntry> entries() const noexcept;
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  std::uint32_t depth() const noexcept { return depth_; }

  // The value stored under key, or null.
  const Value* find(std::string_view key) const noexcept;

  // Stores the value under key: an existing entry keeps its position and gets
  // the new value, a new key is appended. The value is taken only on success;
  // on failure (NestingTooDeep, CollectionTooLarge) the map is unchanged.
  qovrin::Status set(std::string_view key, Value&& value);

  // As set, with a copy of value; the caller keeps its own.
  qovrin::Status setCloned(std::string_view key, const Value& value);

  // Whether both read the same storage (map identity, not equality).
  bool sharesStorageWith(const MapValue& other) const noexcept { return table_.sameAs(other.table_); }

 private:
  struct Table {
    std::vector<MapEntry> entries;
    MapIndex index;
  };

  std::size_t positionOf(std::string_view key) const noexcept;
  static void indexPosition(Table& table, std::size_t position) noexcept;
  static void prepareIndexFor(Table& table, std::size_t count);
  Table& owned();
  Table& growable(std::uint32_t needed_depth);

  // Copies share the table; a map reads its first size_ entries. A new key
  // is appended to a shared table as a list's item is; any other write makes
  // this map's own copy first.
  SharedStorage<Table> table_;
  std::size_t size_ = 0;
  std::uint32_t depth_ = 1;
};

// A run of captured macro-argument text and the environment it was written in.
struct OperandPiece {
  std::string text;
  std::shared_ptr<const OperandEnvironment> environment;  // never null
};

class OperandValue {
 public:
  OperandValue() = default;

  // Takes the pieces only on success. Every piece must carry an environment.
  static qovrin::Result<OperandValue> make(std::vector<OperandPiece>&& pieces);

  std::span<const OperandPiece> pieces() const noexcept { return pieces_; }
  std::uint32_t depth() const noexcept { return depth_; }

  // The pieces' texts joined with nothing between them.
  std::string text() const;

 private:
  std::vector<OperandPiece> pieces_;
  std::uint32_t depth_ = 1;
};

class Value {
 public:
  // Alternatives in tag order: the index of the active one is the ValueKind.
  using Storage = std::variant<VoidValue, IntegerValue, float, double, bool, std::string, BytesValue, TypeValue, StructValue,
                               ListValue, MapValue, OperandValue>;

  Value() noexcept = default;
  Value(IntegerValue integer) noexcept : storage_(integer) {}
  Value(TypeValue type) noexcept : storage_(type) {}
  Value(StructValue&& structure) noexcept : storage_(std::move(structure)) {}
  Value(BytesValue&& bytes) noexcept : storage_(std::move(bytes)) {}
  Value(ListValue&& list) noexcept : storage_(std::move(list)) {}
  Value(MapValue&& map) noexcept : storage_(std::move(map)) {}
  Value(OperandValue&& operand) noexcept : storage_(std::move(operand)) {}

  static Value integer(std::uint64_t word, std::optional<std::uint32_t> type_id = std::nullopt) noexcept {
    return Value(IntegerValue{word, type_id});
  }
  static Value float32(float number) noexcept { return Value(Storage(std::in_place_index<2>, number)); }
  static Value float64(double number) noexcept { return Value(Storage(std::in_place_index<3>, number)); }
  static Value boolean(bool truth) noexcept { return Value(Storage(std::in_place_index<4>, truth)); }
  static Value string(std::string text) noexcept { return Value(Storage(std::in_place_index<5>, std::move(text))); }
  static Value bytes(Bytes data) { return Value(Storage(std::in_place_index<6>, BytesValue(std::move(data)))); }
  static Value type(std::uint32_t id) noexcept { return Value(TypeValue{id}); }

  ValueKind kind() const noexcept { return static_cast<ValueKind>(storage_.index()); }
  bool is(ValueKind kind) const noexcept { return this->kind() == kind; }

  // Nesting depth: 0 for scalars.
  std::uint32_t depth() const noexcept;

  const Storage& storage() const noexcept { return storage_; }
  // Replacing or editing scalars in place is safe; containers guard their own
  // depth, so a nested container cannot be grown through this.
  Storage& storage() noexcept { return storage_; }

  template <typename T>
  const T* getIf() const noexcept {
    return std::get_if<T>(&storage_);
  }
  template <typename T>
  T* getIf() noexcept {
    return std::get_if<T>(&storage_);
  }

  const IntegerValue* asInteger() const noexcept { return getIf<IntegerValue>(); }
  const std::string* asString() const noexcept { return getIf<std::string>(); }
  const BytesValue* asBytes() const noexcept { return getIf<BytesValue>(); }
  const StructValue* asStruct() const noexcept { return getIf<StructValue>(); }
  const ListValue* asList() const noexcept { return getIf<ListValue>(); }
  const MapValue* asMap() const noexcept { return getIf<MapValue>(); }
  const OperandValue* asOperand() const noexcept { return getIf<OperandValue>(); }
  ListValue* asList() noexcept { return getIf<ListValue>(); }
  MapValue* asMap() noexcept { return getIf<MapValue>(); }
  BytesValue* asBytes() noexcept { return getIf<BytesValue>(); }
  StructValue* asStruct() noexcept { return getIf<StructValue>(); }

  // Largest capture depth among the environments of the operands reachable
  // through structs, lists and maps (not through environments); 0 if none.
  std::uint64_t operandCaptureDepth() const noexcept;

 private:
  explicit Value(Storage&& storage) noexcept : storage_(std::move(storage)) {}

  Storage storage_;
};

struct StructValueField {
  std::string name;
  Value value;
};

struct MapEntry {
  std::string key;
  Value value;
};

inline std::span<const Value> ListValue::items() const noexcept {
  const std::vector<Value>* stored = items_.get();
  return stored == nullptr ? std::span<const Value>() : std::span<const Value>(stored->data(), size_);
}

inline const Value& ListValue::operator[](std::size_t index) const noexcept { return (*items_.get())[index]; }

inline std::span<const MapEntry> MapValue::entries() const noexcept {
  const Table* table = table_.get();
  return table == nullptr ? std::span<const MapEntry>() : std::span<const MapEntry>(table->entries.data(), size_);
}

struct OperandPosition {
  std::uint64_t offset = 0;  // in the current section
  std::uint64_t file_cursor = 0;
};

// A moment of the module's values: reading through it gives each value as
// it was then, and no symbol defined later. The module keeps what a live
// snapshot can still read.
struct ModuleSnapshot {
  std::uint64_t version = 0;
};

// What was visible where an operand was written; shared by the pieces of one
// capture and released with the last of them. The module's values are read
// through the snapshot when there is one; the bindings hold the rest (all
// of it without a snapshot), and a binding comes before a module value of
// the same name.
struct OperandEnvironment {
  std::uint64_t capture_depth = 0;
  std::optional<OperandPosition> position;
  MapValue bindings;
  std::shared_ptr<const ModuleSnapshot> module_values;
  std::optional<target::Target> target;
  std::optional<std::uint32_t> section;
};

// Structural equality: kinds must match (integer 1 is not float 1.0, a string
// is not bytes); floats compare as IEEE numbers; struct fields compare in
// order, map entries by key in any order; operands compare their pieces' texts
// and environment identities.
bool valuesEqual(const Value& left, const Value& right) noexcept;

// Whether both hold one collection (list, map or byte string): one storage
// read to the same length, so that neither has changed since one was copied
// from the other. Never for other kinds, whose copies share nothing.
bool sameCollection(const Value& left, const Value& right) noexcept;

// Plain positional decimal text with the shortest digits that read back to the
// same number, always with a point ("2.0", "0.001", "-0.0"; "inf.0", "nan.0").
std::string formatFloatLiteral(double number);
std::string formatFloatLiteral(float number);
void appendFloatLiteral(std::string& out, double number);
void appendFloatLiteral(std::string& out, float number);

// A float32 as it is written back into source text: "f32(" text ")".
std::string formatFloat32Literal(float number);

}  // namespace frontend::value
