#include "frontend/type_name.hpp"

#include <array>

namespace frontend::type_name {

using qovrin::Error;
using qovrin::fail;

namespace {

struct FixedInteger {
  std::string_view name;
  std::uint16_t bits;
  bool is_signed;
};

constexpr std::array<FixedInteger, 8> kFixedIntegers = {{
    {"u8", 8, false},
    {"u16", 16, false},
    {"u32", 32, false},
    {"u64", 64, false},
    {"i8", 8, true},
    {"i16", 16, true},
    {"i32", 32, true},
    {"i64", 64, true},
}};

// Registers name for a type just appended, or takes the type back out.
qovrin::Result<std::uint32_t> registerNewType(TypeTables tables, std::string_view name, std::uint32_t id) {
  if (const auto registered = tables.names.registerName(name, id); !registered) {
    tables.store.removeLast();
    return fail(registered.error());
  }
  return id;
}

}  // namespace

std::optional<std::uint32_t> TypeNameTable::find(std::string_view name) const noexcept {
  for (const TypeNameEntry& entry : entries_)
    if (entry.name == name) return entry.type_id;
  return std::nullopt;
}

qovrin::Status TypeNameTable::registerName(std::string_view name, std::uint32_t type_id) {
  if (find(name)) return fail(Error::DuplicateTypeName);
  entries_.push_back(TypeNameEntry{std::string(name), type_id});
  return {};
}

qovrin::Result<std::uint32_t> getOrAddIntType(TypeTables tables, std::string_view name, std::uint16_t bits,
                                              bool is_signed) {
  if (const auto existing = tables.names.find(name)) return *existing;
  const auto id = tables.store.add(types::Type{types::IntegerType{bits, is_signed}});
  if (!id) return id;
  return registerNewType(tables, name, *id);
}

qovrin::Result<std::uint32_t> addAggregateType(TypeTables tables, types::AggregateType&& aggregate) {
  // Checked first so that a refused declaration gives its fields back intact.
  if (tables.names.find(aggregate.name)) return fail(Error::DuplicateTypeName);
  if (tables.store.size() >= types::TypeStore::kMaxTypes) return fail(Error::TooManyTypes);
  const std::string name = aggregate.name;
  const auto id = tables.store.add(types::Type{std::move(aggregate)});
  if (!id) return id;
  return registerNewType(tables, name, *id);
}

qovrin::Result<std::optional<std::uint32_t>> resolveNamedOrFixedInteger(TypeTables tables, std::string_view name) {
  if (const auto registered = tables.names.find(name)) return registered;
  for (const FixedInteger& fixed : kFixedIntegers) {
    if (fixed.name != name) continue;
    const auto id = getOrAddIntType(tables, name, fixed.bits, fixed.is_signed);
    if (!id) return fail(id.error());
    return std::optional<std::uint32_t>(*id);
  }
  return qovrin::Result<std::optional<std::uint32_t>>(std::in_place);
}

}  // namespace frontend::type_name
