#pragma once
// The byte image of a struct value in its declared layout: what `pack` and
// `emit.struct` produce. Integers are stored little-endian; bytes no field
// writes (alignment gaps, union tails) are zero.

#include <cstdint>
#include <span>

#include "common/error.hpp"
#include "frontend/values/types.hpp"
#include "frontend/values/value.hpp"

namespace frontend::value {

// Largest image packStructValue builds; a larger layout (only reachable
// through huge array or blob members of a union) fails with
// InvalidApiInteger instead of allocating it.
inline constexpr std::uint64_t kMaxPackedSize = std::uint64_t{1} << 30;

// The whole image, exactly the layout's size. Every check runs before the
// image is allocated, so a value that cannot be packed costs no allocation.
qovrin::Result<Bytes> packStructValue(const types::TypeStore& store, const StructValue& value);

// Writes one struct or union value at base_offset. On failure the bytes
// before the failing field may have been written.
qovrin::Status packAggregateInto(const types::TypeStore& store, std::span<std::uint8_t> buffer,
                                 std::uint64_t base_offset, const StructValue& value);

// Writes one field of the given type at base_offset + field_offset.
qovrin::Status writeFieldValue(const types::TypeStore& store, std::span<std::uint8_t> buffer, std::uint64_t base_offset,
                               std::uint64_t field_offset, std::uint32_t field_type_id, const Value& field_value);

// Writes one integer of 8, 16, 32 or 64 bits at base_offset + field_offset:
// InvalidIntegerBits, InvalidApiInteger (out of range), IntegerOverflow
// (position), FragmentTooLarge (outside the buffer), in that order.
qovrin::Status writeIntegerField(std::span<std::uint8_t> buffer, std::uint64_t base_offset, std::uint64_t field_offset,
                                 std::uint64_t word, std::uint16_t bits, bool is_signed);

}  // namespace frontend::value
