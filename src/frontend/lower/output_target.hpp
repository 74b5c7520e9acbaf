#pragma once
// Where a store.* call writes: an absolute address and the section whose
// emitted bytes hold it, which is the section of the label the target
// expression names, not necessarily the section being written now.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"
#include "frontend/lower/reading.hpp"

namespace frontend::lower::output_target {

// The section of the label the expression refers to, if any; a binary
// operation takes its left side's, else its right side's. Labels of two
// different sections in one expression are InvalidApiArgument.
qovrin::Result<std::optional<std::uint32_t>> labelSection(const module::Module& module, context::LowerContext& context,
                                                          const expr::Node& node);

}  // namespace frontend::lower::output_target
