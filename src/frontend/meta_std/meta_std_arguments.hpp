#pragma once
// Argument checks shared by the library's builtins: the count first, then
// each argument's kind, each failure with its one error.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/values/value.hpp"

namespace frontend::meta_std {

inline qovrin::Status expectCount(Arguments arguments, std::size_t count) {
  if (arguments.size() != count) return qovrin::fail(qovrin::Error::InvalidArgument);
  return {};
}

// The argument's payload when it is of kind T (std::string, value::Bytes,
// value::ListValue, value::MapValue), else TypeMismatch.
template <typename T>
qovrin::Result<const T*> argumentAs(const value::Value& argument) {
  const T* payload = argument.getIf<T>();
  if (payload == nullptr) return qovrin::fail(qovrin::Error::TypeMismatch);
  return payload;
}

inline qovrin::Result<std::uint64_t> integerArgument(const value::Value& argument) {
  const auto* integer = argument.asInteger();
  if (integer == nullptr) return qovrin::fail(qovrin::Error::TypeMismatch);
  return integer->word;
}

// The sum of two result lengths, within kMaxResultBytes.
inline qovrin::Result<std::uint64_t> addLength(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum) || sum > kMaxResultBytes) return qovrin::fail(qovrin::Error::OutputTooLarge);
  return sum;
}

// Builds a list value from freshly made items.
inline qovrin::Result<value::Value> listOf(std::vector<value::Value>&& items) {
  auto list = value::ListValue::make(std::move(items));
  if (!list) return qovrin::fail(list.error());
  return value::Value(std::move(*list));
}

// Appends the text of a scalar (valueToString) or the lower-case hex digits
// of bytes; either fails with OutputTooLarge past kMaxResultBytes.
qovrin::Status appendValueText(std::string& out, const value::Value& value);
qovrin::Status appendHex(std::string& out, std::span<const std::uint8_t> bytes);

}  // namespace frontend::meta_std
