#pragma once
// Types for laying out data: fixed-width integers, arrays, opaque fixed-size
// blobs, structs and unions, addressed by a 32-bit id into the module's store,
// with the exact size and alignment of each.
//
// A type keeps its address for as long as it stays in the store: adding types
// (which evaluation does when it meets "u8" ... "i64" the first time) never
// moves the ones already there, so a Type* may be held across any addition.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/error.hpp"

namespace frontend::types {

enum class TypeKind : std::uint8_t { void_ = 0, integer = 1, array = 2, fixed = 3, struct_ = 4, union_ = 5 };

struct VoidType {};

struct IntegerType {
  std::uint16_t bits = 0;  // 1 to 64
  bool is_signed = false;
};

struct ArrayType {
  std::uint64_t count = 0;
  std::uint32_t element = 0;
};

// An opaque blob of the given size.
struct FixedType {
  std::uint64_t size = 0;
  std::uint64_t alignment = 1;
};

struct StructField {
  std::string name;
  std::uint64_t offset = 0;  // from the start of the aggregate; 0 in a union
  // The declared default of an integer field; struct literals use it.
  std::optional<std::uint64_t> default_value;
  std::uint32_t type_id = 0;
};

// A struct or union with the layout computed when it was declared.
struct AggregateType {
  std::string name;
  std::vector<StructField> fields;  // in declaration order
  std::uint64_t size = 0;
  std::uint64_t alignment = 1;
  bool packed = false;
  bool is_union = false;
};

// The word lies in the type's range: below 2^bits unsigned, within
// [-2^(bits-1), 2^(bits-1) - 1] as two's complement signed. Never for widths
// outside 1 to 64.
bool integerFits(std::uint64_t word, IntegerType type) noexcept;

struct Type {
  std::variant<VoidType, IntegerType, ArrayType, FixedType, AggregateType> data;

  TypeKind kind() const noexcept;

  template <typename T>
  const T* getIf() const noexcept {
    return std::get_if<T>(&data);
  }
};

struct Layout {
  std::uint64_t size = 0;
  std::uint64_t alignment = 1;
};

// The module's types; a type's id is its index, in creation order.
class TypeStore {
 public:
  // Ids are 32-bit, so at most this many types exist.
  static constexpr std::uint64_t kMaxTypes = std::uint64_t{1} << 32;

  std::size_t size() const noexcept { return types_.size(); }

  // The type with that id, or null. The address stays valid until that type
  // is removed again.
  const Type* find(std::uint32_t id) const noexcept { return id < types_.size() ? &types_[id] : nullptr; }

  // Appends the type and returns its id (TooManyTypes when ids run out). When
  // the allocation fails, the store is unchanged.
  qovrin::Result<std::uint32_t> add(Type&& type);

  // Undoes the last add; an empty store stays empty.
  void removeLast() noexcept;

  // InvalidType for an unknown id, InvalidIntegerBits for an integer of 0 (or
  // more than 64) bits, IntegerOverflow when an array's size passes 64 bits.
  qovrin::Result<Layout> layoutOf(std::uint32_t id) const;

 private:
  // A deque, so that appending never relocates a type handed out before.
  std::deque<Type> types_;
};

// Lays out the fields of a struct or union declaration in order, filling each
// field's offset and the aggregate's size and alignment: InvalidFieldName,
// DuplicateFieldName, InvalidAlignment, IntegerOverflow, and the layout errors
// of the field types. The fields are taken only on success.
qovrin::Result<AggregateType> layOutAggregate(const TypeStore& store, std::string_view name,
                                              std::vector<StructField>&& fields, bool is_union, bool packed);

}  // namespace frontend::types
