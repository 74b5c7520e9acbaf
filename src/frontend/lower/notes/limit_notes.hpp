#pragma once
// Notes on a run that reached one of its limits: how many macro expansions
// a run takes, how deep includes nest, how large the output and a builtin's
// result may grow. Each names the limit and what passed it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/quoted_text.hpp"

#include "frontend/lower/notes/failure_asking.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/diagnostic.hpp"

namespace frontend::lower::limit_notes {

// "a run expands macros at most 100,000 times".
std::vector<diagnostic::Note> expansionNotes();

// "includes nest at most 128 deep: main.qov includes a.qov, which includes
// ...", the chain cut in its middle when long.
std::vector<diagnostic::Note> includeDepthNotes(const context::LowerContext& context);

// "a macro takes at most 256 operands, and this line gives 300", for an
// invocation line that gives more; none for any other.
std::vector<diagnostic::Note> operandCountNotes(std::string_view line, qovrin::quoted_text::Rules strings);

// What made the output or a builtin's result too large: a reservation, a
// file, bytes.repeat.
std::vector<diagnostic::Note> sizeNotes(const failure_asking::Asking& asking, const ast::Statement& statement);

// Where a label lies whose address is past the 64-bit range; none for any
// other name.
std::optional<std::string> pastAddressRange(const module::Module& module, std::string_view name);

// A label read in an expression whose address lies past the 64-bit range.
std::vector<diagnostic::Note> addressNotes(const failure_asking::Asking& asking,
                                           const std::vector<const expr::Node*>& nodes);

}  // namespace frontend::lower::limit_notes
