#pragma once
// An instruction line as the encoders will see it: the layout builtins called
// inside it, and the meta locals and module values it names that hold
// integers, are replaced by unsigned decimal text. The target's own words and
// labels stay as written; the encoders resolve labels or leave fixups.

#include <optional>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"

namespace frontend::lower::isa_lowering {

// None when the text is to stay as written. Builtin calls are evaluated at
// the cursor. A failing call fails with its error as lowering maps it; an
// unterminated quote with InvalidExpression. plain says the text holds no
// name before a parenthesis outside a string and no string left open, as
// the target reads strings, which spares looking for either.
qovrin::Result<std::optional<std::string>> lowerText(module::Module& module, context::LowerContext& context,
                                                      const contracts::ActiveOutput& cursor, std::string_view text,
                                                      bool plain = false);

}  // namespace frontend::lower::isa_lowering
