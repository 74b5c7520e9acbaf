#include "frontend/values/types.hpp"

#include <algorithm>
#include <bit>
#include <unordered_set>

namespace frontend::types {

using qovrin::Error;
using qovrin::fail;

namespace {

qovrin::Result<std::uint64_t> multiply(std::uint64_t left, std::uint64_t right) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(left, right, &product)) return fail(Error::IntegerOverflow);
  return product;
}

qovrin::Result<std::uint64_t> add(std::uint64_t left, std::uint64_t right) {
  std::uint64_t sum = 0;
  if (__builtin_add_overflow(left, right, &sum)) return fail(Error::IntegerOverflow);
  return sum;
}

qovrin::Result<std::uint64_t> roundUp(std::uint64_t value, std::uint64_t alignment) {
  if (!std::has_single_bit(alignment)) return fail(Error::InvalidAlignment);
  const auto raised = add(value, alignment - 1);
  if (!raised) return raised;
  return *raised & ~(alignment - 1);
}

qovrin::Result<Layout> integerLayout(const IntegerType& integer) {
  if (integer.bits == 0 || integer.bits > 64) return fail(Error::InvalidIntegerBits);
  const std::uint64_t size = (integer.bits + 7u) / 8u;
  return Layout{size, std::bit_ceil(std::min<std::uint64_t>(size, 8))};
}

}  // namespace

bool integerFits(std::uint64_t word, IntegerType type) noexcept {
  if (type.bits == 0 || type.bits > 64) return false;
  if (type.bits == 64) return true;
  if (!type.is_signed) return word >> type.bits == 0;
  const auto signed_word = static_cast<std::int64_t>(word);
  const std::int64_t limit = std::int64_t{1} << (type.bits - 1);
  return signed_word >= -limit && signed_word < limit;
}

TypeKind Type::kind() const noexcept {
  switch (data.index()) {
    case 0:
      return TypeKind::void_;
    case 1:
      return TypeKind::integer;
    case 2:
      return TypeKind::array;
    case 3:
      return TypeKind::fixed;
    default:
      return std::get<AggregateType>(data).is_union ? TypeKind::union_ : TypeKind::struct_;
  }
}

qovrin::Result<std::uint32_t> TypeStore::add(Type&& type) {
  if (types_.size() >= kMaxTypes) return fail(Error::TooManyTypes);
  types_.push_back(std::move(type));
  return static_cast<std::uint32_t>(types_.size() - 1);
}

void TypeStore::removeLast() noexcept {
  if (!types_.empty()) types_.pop_back();
}

qovrin::Result<Layout> TypeStore::layoutOf(std::uint32_t id) const {
  // Arrays nest through element ids; walk the chain without recursion. The
  // chain cannot be longer than the store unless it loops back on itself,
  // which only a broken store could do.
  std::vector<std::uint64_t> counts;
  const Type* type = find(id);
  while (type != nullptr && type->kind() == TypeKind::array) {
    if (counts.size() >= types_.size()) return fail(Error::InvalidType);
    const ArrayType& array = std::get<ArrayType>(type->data);
    counts.push_back(array.count);
    type = find(array.element);
  }
  if (type == nullptr) return fail(Error::InvalidType);

  Layout layout;
  switch (type->kind()) {
    case TypeKind::void_:
      layout = Layout{0, 1};
      break;
    case TypeKind::integer: {
      const auto integer = integerLayout(std::get<IntegerType>(type->data));
      if (!integer) return integer;
      layout = *integer;
      break;
    }
    case TypeKind::fixed: {
      const FixedType& fixed = std::get<FixedType>(type->data);
      layout = Layout{fixed.size, fixed.alignment};
      break;
    }
    case TypeKind::array:
      return fail(Error::InvalidType);
    case TypeKind::struct_:
    case TypeKind::union_: {
      const AggregateType& aggregate = std::get<AggregateType>(type->data);
      layout = Layout{aggregate.size, aggregate.alignment};
      break;
    }
  }
  // Innermost array first, so an inner array that overflows fails even when
  // an outer count is 0.
  for (auto count = counts.rbegin(); count != counts.rend(); ++count) {
    const auto size = multiply(*count, layout.size);
    if (!size) return fail(size.error());
    layout.size = *size;
  }
  return layout;
}

qovrin::Result<AggregateType> layOutAggregate(const TypeStore& store, std::string_view name,
                                              std::vector<StructField>&& fields, bool is_union, bool packed) {
  std::unordered_set<std::string_view> seen;
  std::vector<std::uint64_t> offsets;
  offsets.reserve(fields.size());
  std::uint64_t cursor = 0;
  std::uint64_t largest_size = 0;
  std::uint64_t alignment = 1;
  bool first = true;
  for (const StructField& field : fields) {
    if (field.name.empty()) return fail(Error::InvalidFieldName);
    if (!seen.insert(field.name).second) return fail(Error::DuplicateFieldName);
    const auto layout = store.layoutOf(field.type_id);
    if (!layout) return fail(layout.error());
    alignment = first ? layout->alignment : std::max(alignment, layout->alignment);
    first = false;
    if (is_union) {
      offsets.push_back(0);
      largest_size = std::max(largest_size, layout->size);
      continue;
    }
    std::uint64_t offset = cursor;
    if (!packed) {
      const auto aligned = roundUp(cursor, layout->alignment);
      if (!aligned) return fail(aligned.error());
      offset = *aligned;
    }
    const auto end = add(offset, layout->size);
    if (!end) return fail(end.error());
    offsets.push_back(offset);
    cursor = *end;
  }

  std::uint64_t size = is_union ? largest_size : cursor;
  if (!packed) {
    const auto rounded = roundUp(size, alignment);
    if (!rounded) return fail(rounded.error());
    size = *rounded;
  }

  AggregateType aggregate;
  aggregate.name = std::string(name);
  aggregate.size = size;
  aggregate.alignment = alignment;
  aggregate.packed = packed;
  aggregate.is_union = is_union;
  aggregate.fields = std::move(fields);
  for (std::size_t index = 0; index < offsets.size(); ++index) aggregate.fields[index].offset = offsets[index];
  return aggregate;
}

}  // namespace frontend::types
