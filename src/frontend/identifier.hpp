#pragma once

#include <string_view>

namespace frontend::identifier {

// A name: starts with a letter, "_" or "."; goes on with letters, digits, ".", "_" or "$".
bool isName(std::string_view text) noexcept;

// "name = ..." with a single "=" (not "==", "!=", "<=", ">=").
bool looksLikeAssignment(std::string_view text) noexcept;

}  // namespace frontend::identifier
