#pragma once
// Notes for a quote an instruction line opens and never closes. Each line is
// one instruction, so the string cannot go on below: a disassembly that
// writes a multi-line OpSource string, say, leaves its text to be read as
// lines of its own, which then fail far from the cause.

#include <optional>

#include "frontend/module/module.hpp"
#include "frontend/syntax/diagnostic.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::lower::quote_notes {

// The note at the quote that the instruction line starting at `line` leaves
// open, as the target reads quotes; none when every quote closes.
std::optional<diagnostic::Note> openQuoteOnLine(const module::Module& module, target::Target target,
                                                const SourceLocation& line);

// The same for a statement of the source language (a call, a declaration,
// an if header), which reads strings as x86 and RISC-V lines do.
std::optional<diagnostic::Note> openQuoteInStatement(const module::Module& module, const SourceLocation& line);

// For a failure at `failure`: the note at the string that the nearest
// SPIR-V instruction line above it leaves open; none when that line closes
// its strings or there is none.
std::optional<diagnostic::Note> openStringAbove(const module::Module& module, const SourceLocation& failure);

}  // namespace frontend::lower::quote_notes
