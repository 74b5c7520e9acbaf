#pragma once
// The one data argument of the checksum, digest and DEFLATE builtins.

#include <span>
#include <string_view>

#include "common/error.hpp"
#include "frontend/meta_std/meta_byte_input.hpp"
#include "frontend/values/value.hpp"

namespace frontend::meta_std {

// Bytes of the first argument, once the count lies in [min_count, max_count].
inline qovrin::Result<std::string_view> dataArgument(std::span<const value::Value> arguments, std::size_t min_count,
                                                     std::size_t max_count) {
  if (arguments.size() < min_count || arguments.size() > max_count) return qovrin::fail(qovrin::Error::InvalidArgument);
  const auto data = byteInputOf(arguments[0]);
  if (!data) return qovrin::fail(qovrin::Error::TypeMismatch);
  return *data;
}

}  // namespace frontend::meta_std
