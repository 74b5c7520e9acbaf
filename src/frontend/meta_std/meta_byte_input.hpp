#pragma once
// Builtins that read data accept a string or a bytes value alike: a string is
// its raw bytes, with no encoding step.

#include <optional>
#include <string_view>

#include "frontend/values/value.hpp"

namespace frontend::meta_std {

// The value's bytes, or none when it is neither a string nor bytes.
inline std::optional<std::string_view> byteInputOf(const value::Value& value) noexcept {
  if (const auto* text = value.asString()) return std::string_view(*text);
  if (const auto* bytes = value.asBytes())
    return std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  return std::nullopt;
}

}  // namespace frontend::meta_std
