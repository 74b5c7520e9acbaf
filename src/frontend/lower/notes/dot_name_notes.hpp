#pragma once
// Why an expression that names a label such as '.end' cannot be read: names
// that start with '.' serve as jump targets and addresses, and the
// expression reader takes no name that starts so.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace frontend::lower::dot_name_notes {

// The name that starts with '.' where reading the expression text stops,
// at its start or after an operator; none when the text reads or stops at
// anything else.
std::optional<std::string_view> dotNameStoppingExpression(std::string_view expression);

// The name that starts with '.' at `at` in text; none when none starts there.
std::optional<std::string_view> dotNameAt(std::string_view text, std::size_t at) noexcept;

// What such a name serves as, why it stops the expression and what to write.
std::string dotNameReason(std::string_view name);

// The reason for the first of the expressions that such a name stops.
std::optional<std::string> expressionNote(std::span<const std::string_view> expressions);

}  // namespace frontend::lower::dot_name_notes
