#pragma once
// The note for a call line whose arguments do not parse: it stands where
// reading stopped (an operator with nothing after it, a ')' that closes no
// '(', a '(' never closed) and says what stands there.

#include <optional>
#include <string_view>

#include "frontend/syntax/diagnostic.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::lower::call_syntax_notes {

// The call's name when the line reads "name(" after its blanks.
std::optional<std::string_view> calledName(std::string_view line) noexcept;

// `line` is the raw text of the call line, which starts in its source at
// `location`; none when every argument of the call parses.
std::optional<diagnostic::Note> argumentSyntaxNote(std::string_view line, const SourceLocation& location);

}  // namespace frontend::lower::call_syntax_notes
