#include "frontend/encode/open_quote_notes.hpp"

#include "common/display_text.hpp"
#include "common/quoted_text.hpp"

namespace frontend::pass {

std::optional<std::string> openQuoteNote(std::string_view text, target::Target target) {
  const qovrin::quoted_text::Rules strings = target.strings();
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (qovrin::quoted_text::opener(strings, text, at) == 0) continue;
    const auto closed = qovrin::quoted_text::stringEnd(strings, text, at);
    if (!closed)
      return "the string opened at character " + std::to_string(at + 1) + " of " + qovrin::quotedSubject(text) +
             " is not closed";
    at = *closed - 1;
  }
  return std::nullopt;
}

}  // namespace frontend::pass
