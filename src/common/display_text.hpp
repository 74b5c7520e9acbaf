#pragma once
// Text from sources and files shown to the user: kept short where it is only
// the subject of a message, and never able to move the terminal's cursor or
// clear its screen.

#include <cstddef>
#include <string>
#include <string_view>

namespace qovrin {

// How many bytes of a subject a message shows before "...".
inline constexpr std::size_t kShownSubjectBytes = 120;

// text cut after kShownSubjectBytes with "..."; a cut never splits a UTF-8
// sequence.
std::string shownSubject(std::string_view text);

// The same between single quotes.
std::string quotedSubject(std::string_view text);

// Appends text with every byte below 0x20, 0x7F, every byte of a sequence
// that is not UTF-8, the C1 controls and the invisible U+FEFF written as
// \xNN, so that a byte-order mark or an escape sequence reads as what it is.
void appendPrintable(std::string& out, std::string_view text);

}  // namespace qovrin
