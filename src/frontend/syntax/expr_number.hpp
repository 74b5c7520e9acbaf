#pragma once
// Number literals of the expression language: where a token ends and what it
// denotes.

#include <cstddef>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/expr.hpp"

namespace frontend::expr {

// End of the number token that starts with the digit at `start`.
std::size_t numberTokenEnd(std::string_view text, std::size_t start) noexcept;

// The integer or float literal node a number token denotes.
qovrin::Result<Node> readNumberToken(std::string_view token);

}  // namespace frontend::expr
