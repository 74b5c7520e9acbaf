#pragma once
// Names of the builtins the evaluator provides itself, beside the meta
// standard library's and the data builtins' own tables. This one table serves
// the expression parser (is a dotted name a builtin call?) and the evaluator
// (dispatch, and which trees read emitted output).

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace frontend::expr {

enum class EvaluatorBuiltinKind : std::uint8_t {
  operand = 0,      // operand.*: work on a captured macro operand
  assembler = 1,    // the assembler's own state, such as sizeof or here
  output_load = 2,  // load.*: read bytes already emitted
};

struct EvaluatorBuiltin {
  std::string_view name;
  EvaluatorBuiltinKind kind;
};

// In dispatch order: the operand builtins, which come before the library's
// names, then the assembler builtins, which come after the data builtins.
inline constexpr std::array<EvaluatorBuiltin, 26> kEvaluatorBuiltins = {{
    {"operand.text", EvaluatorBuiltinKind::operand},
    {"operand.slice", EvaluatorBuiltinKind::operand},
    {"operand.eval", EvaluatorBuiltinKind::operand},
    {"operand.split", EvaluatorBuiltinKind::operand},
    {"f32", EvaluatorBuiltinKind::assembler},
    {"f64", EvaluatorBuiltinKind::assembler},
    {"sizeof", EvaluatorBuiltinKind::assembler},
    {"lengthof", EvaluatorBuiltinKind::assembler},
    {"pack", EvaluatorBuiltinKind::assembler},
    {"offset_of", EvaluatorBuiltinKind::assembler},
    {"here", EvaluatorBuiltinKind::assembler},
    {"region_base", EvaluatorBuiltinKind::assembler},
    {"file_offset", EvaluatorBuiltinKind::assembler},
    {"file_cursor_real", EvaluatorBuiltinKind::assembler},
    {"file_cursor_potential", EvaluatorBuiltinKind::assembler},
    {"tail_reserve_size", EvaluatorBuiltinKind::assembler},
    {"region_file_offset", EvaluatorBuiltinKind::assembler},
    {"region_file_size", EvaluatorBuiltinKind::assembler},
    {"region_logical_size", EvaluatorBuiltinKind::assembler},
    {"label_addr", EvaluatorBuiltinKind::assembler},
    {"sym.unique", EvaluatorBuiltinKind::assembler},
    {"load.bytes", EvaluatorBuiltinKind::output_load},
    {"load.u8", EvaluatorBuiltinKind::output_load},
    {"load.u16", EvaluatorBuiltinKind::output_load},
    {"load.u32", EvaluatorBuiltinKind::output_load},
    {"load.u64", EvaluatorBuiltinKind::output_load},
}};

// The evaluator's own builtin of that exact name.
constexpr std::optional<EvaluatorBuiltin> findEvaluatorBuiltin(std::string_view name) noexcept {
  for (const EvaluatorBuiltin& builtin : kEvaluatorBuiltins)
    if (builtin.name == name) return builtin;
  return std::nullopt;
}

// Whether the name is any builtin: the evaluator's own, the library's or a
// data builtin. A value function can never take such a name.
bool isBuiltinName(std::string_view name) noexcept;

// The builtin's place among all builtin names in the evaluator's order, by
// which a call node keeps what it calls; none for any other name.
std::optional<std::uint16_t> builtinPlace(std::string_view name) noexcept;

}  // namespace frontend::expr
