#pragma once
// Strings and byte strings written back as source literals.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace frontend::lower::diagnostic_format {

// "text" with every double quote doubled; nothing else is escaped.
std::string formatStringLiteral(std::string_view text);

// b"..." in the same form; the bytes 41 22 42 give b"A""B".
std::string formatBytesValue(std::span<const std::uint8_t> bytes);

}  // namespace frontend::lower::diagnostic_format
