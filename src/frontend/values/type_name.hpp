#pragma once
// Names bound to types, and the fixed-width integer names ("u8" ... "i64")
// that exist without a declaration and get their type on first use.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/error.hpp"
#include "frontend/values/types.hpp"

namespace frontend::type_name {

struct TypeNameEntry {
  std::string name;
  std::uint32_t type_id = 0;
};

// Names are unique, compared byte for byte, and kept in registration order.
// Lookups are hashed, so a source declaring many types stays linear.
class TypeNameTable {
 public:
  std::optional<std::uint32_t> find(std::string_view name) const noexcept;

  // Binds a copy of name to the id. DuplicateTypeName, and an allocation that
  // fails, leave the table as it was.
  qovrin::Status registerName(std::string_view name, std::uint32_t type_id);

  // Undoes the last registration; an empty table stays empty.
  void removeLast() noexcept;

  std::span<const TypeNameEntry> entries() const noexcept { return entries_; }

 private:
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
  };

  std::vector<TypeNameEntry> entries_;
  // Name to position in entries_.
  std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>> index_;
};

// The module's type store and name table, borrowed together.
struct TypeTables {
  types::TypeStore& store;
  TypeNameTable& names;
};

// The id bound to name whatever its type, else a new integer type registered
// under name. On failure (TooManyTypes, DuplicateTypeName, or an allocation
// that throws) store and table are left as they were.
qovrin::Result<std::uint32_t> getOrAddIntType(TypeTables tables, std::string_view name, std::uint16_t bits,
                                              bool is_signed);

// Appends a laid-out struct or union and registers its name; a taken name
// gives DuplicateTypeName (the aggregate stays with the caller), and neither
// that nor an allocation that throws leaves a type behind.
qovrin::Result<std::uint32_t> addAggregateType(TypeTables tables, types::AggregateType&& aggregate);

// A registered name first (so a declared "u8" shadows the integer), then one of
// "u8", "u16", "u32", "u64", "i8", "i16", "i32", "i64", created on first use;
// anything else resolves to nothing.
qovrin::Result<std::optional<std::uint32_t>> resolveNamedOrFixedInteger(TypeTables tables, std::string_view name);

// Whether resolveNamedOrFixedInteger would resolve name to a type.
bool namesType(const TypeNameTable& names, std::string_view name) noexcept;

}  // namespace frontend::type_name
