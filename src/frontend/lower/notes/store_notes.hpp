#pragma once
// The note beside a store that reaches past the bytes laid out so far: a
// store outside a defer block writes into the fragments, which end where the
// section's bytes end.

#include <optional>
#include <string>

#include "frontend/lower/notes/failure_asking.hpp"
#include "frontend/syntax/ast.hpp"

namespace frontend::lower::store_notes {

// "'store.u16' writes 2 bytes at address 0x0, outside the 1 byte its section
// holds, at 0x0"; none for any other call or a store that lies inside.
std::optional<std::string> outsideNote(const failure_asking::Asking& asking, const ast::ApiCallStatement& call);

}  // namespace frontend::lower::store_notes
