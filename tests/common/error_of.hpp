#pragma once

#include <optional>

#include "common/error.hpp"

namespace qovrin::testing {

// The error of a failed result, nothing for a success. Reading error() of a
// success is undefined, so tests that expect a failure compare this instead.
template <typename T>
std::optional<Error> errorOf(const std::expected<T, Error>& result) {
  if (result) return std::nullopt;
  return result.error();
}

}  // namespace qovrin::testing
