#include "frontend/values/type_name.hpp"

#include <algorithm>
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
  qovrin::Status registered;
  try {
    registered = tables.names.registerName(name, id);
  } catch (...) {
    tables.store.removeLast();
    throw;
  }
  if (!registered) {
    tables.store.removeLast();
    return fail(registered.error());
  }
  return id;
}

}  // namespace

std::optional<std::uint32_t> TypeNameTable::find(std::string_view name) const noexcept {
  const auto found = index_.find(name);
  if (found == index_.end()) return std::nullopt;
  return entries_[found->second].type_id;
}

qovrin::Status TypeNameTable::registerName(std::string_view name, std::uint32_t type_id) {
  if (index_.contains(name)) return fail(Error::DuplicateTypeName);
  // Everything that can throw happens before the table changes: room for the
  // entry first, then the index node; the final append only moves.
  if (entries_.size() == entries_.capacity()) entries_.reserve(std::max<std::size_t>(8, 2 * entries_.size()));
  TypeNameEntry entry{std::string(name), type_id};
  index_.emplace(name, entries_.size());
  entries_.push_back(std::move(entry));
  return {};
}

void TypeNameTable::removeLast() noexcept {
  if (entries_.empty()) return;
  if (const auto found = index_.find(entries_.back().name); found != index_.end()) index_.erase(found);
  entries_.pop_back();
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
  const auto id = tables.store.add(types::Type{std::move(aggregate)});
  if (!id) return id;
  // The stored type keeps its address, so its own name serves for the registration.
  return registerNewType(tables, tables.store.find(*id)->getIf<types::AggregateType>()->name, *id);
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

bool namesType(const TypeNameTable& names, std::string_view name) noexcept {
  return names.find(name).has_value() ||
         std::ranges::any_of(kFixedIntegers, [name](const FixedInteger& fixed) { return fixed.name == name; });
}

}  // namespace frontend::type_name
