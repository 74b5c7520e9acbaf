#pragma once
// Why a defer or late_layout block that stands in a scope could not be
// frozen where it stands: a struct literal written in it, or a local it
// reads that cannot travel with it.

#include <optional>
#include <span>

#include "frontend/lower/context.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/diagnostic.hpp"

namespace frontend::lower::frozen_block_notes {

// The note at the first statement of the body that holds the cause; none
// when no statement shows one.
std::optional<diagnostic::Note> frozenValueNote(context::LowerContext& context, std::span<const ast::Statement> body,
                                                bool in_defer);

}  // namespace frontend::lower::frozen_block_notes
