#pragma once
// Notes on blocks and their limits: a 'for' over what is no range or list,
// a loop past its rounds, and what a nesting limit bounds.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/lower/notes/failure_asking.hpp"

namespace frontend::lower::block_notes {

std::vector<diagnostic::Note> forNotes(const failure_asking::Asking& asking, const ast::MetaForRangeStatement& loop);

// What bounds the rounds of a loop.
std::vector<diagnostic::Note> loopLimitNotes();

// The limit a statement ran into when it nested too deep.
std::vector<diagnostic::Note> nestingNotes(const ast::Statement& statement);

// The limit a line that failed to parse ran into: a block header's or an
// expression's.
std::string_view lineNestingLimit(std::string_view line);

}  // namespace frontend::lower::block_notes
