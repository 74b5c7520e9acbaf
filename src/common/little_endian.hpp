#pragma once
// Integers inside emitted bytes and the output image are little-endian and
// 1, 2, 4 or 8 bytes wide.

#include <cstddef>
#include <cstdint>
#include <span>

namespace qovrin {

constexpr bool isIntegerWidth(std::uint64_t width) noexcept {
  return width == 1 || width == 2 || width == 4 || width == 8;
}

// Whether the low width bytes of value stand for it: it fits unsigned, or it
// is the 64-bit two's complement of a negative number that fits signed
// (-1 as one byte is FF). Every value fits 8 bytes or more.
constexpr bool fitsIntegerWidth(std::uint64_t value, std::uint64_t width) noexcept {
  if (width >= 8) return true;
  if (width == 0) return value == 0;
  const std::uint64_t bits = 8 * width;
  return value >> bits == 0 || value >> (bits - 1) == ~std::uint64_t{0} >> (bits - 1);
}

// The low bytes.size() bytes of value, least significant first.
constexpr void writeLittleEndian(std::span<std::uint8_t> bytes, std::uint64_t value) noexcept {
  for (std::size_t index = 0; index < bytes.size() && index < 8; ++index)
    bytes[index] = static_cast<std::uint8_t>(value >> (8 * index));
}

constexpr std::uint64_t readLittleEndian(std::span<const std::uint8_t> bytes) noexcept {
  std::uint64_t value = 0;
  for (std::size_t index = 0; index < bytes.size() && index < 8; ++index)
    value |= static_cast<std::uint64_t>(bytes[index]) << (8 * index);
  return value;
}

}  // namespace qovrin
