#pragma once
// The builtins tied to the assembler's own state (types, positions, regions,
// labels, unique names, output loads) and the argument readers every builtin
// call shares.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/values/value.hpp"

namespace frontend::expr {

enum class AssemblerBuiltin : std::uint8_t {
  f32,
  f64,
  size_of,
  length_of,
  pack,
  offset_of,
  here,
  region_base,
  file_offset,
  file_cursor_real,
  file_cursor_potential,
  tail_reserve_size,
  region_file_offset,
  region_file_size,
  region_logical_size,
  label_addr,
  sym_unique,
  load_bytes,
  load_u8,
  load_u16,
  load_u32,
  load_u64,
};

// Source names, indexed by AssemblerBuiltin: the evaluator's own builtins
// after the four operand ones, in the one table the parser reads too.
inline constexpr std::size_t kOperandBuiltinCount = 4;
inline constexpr auto kAssemblerBuiltinNames = [] {
  std::array<std::string_view, kEvaluatorBuiltins.size() - kOperandBuiltinCount> names{};
  for (std::size_t index = 0; index < names.size(); ++index)
    names[index] = kEvaluatorBuiltins[kOperandBuiltinCount + index].name;
  return names;
}();
static_assert(kAssemblerBuiltinNames.size() == static_cast<std::size_t>(AssemblerBuiltin::load_u64) + 1);
static_assert(kAssemblerBuiltinNames[static_cast<std::size_t>(AssemblerBuiltin::sym_unique)] == "sym.unique");

using Arguments = std::span<const BuiltinArgument>;

// The builtins on captured macro operands, in the order of their names:
// "operand.text", "operand.slice", "operand.eval", "operand.split".
enum class OperandBuiltin : std::uint8_t { text, slice, eval, split };

qovrin::Result<value::Value> evalOperandBuiltin(OperandBuiltin builtin, Arguments arguments,
                                                const EvaluationContext& context);

qovrin::Result<value::Value> evalAssemblerBuiltin(AssemblerBuiltin builtin, Arguments arguments,
                                                  const EvaluationContext& context);

// region_file_offset, region_file_size and region_logical_size of a
// position, read from the laid-out image.
qovrin::Result<value::Value> evalRegionBuiltin(AssemblerBuiltin builtin, Arguments arguments,
                                               const EvaluationContext& context);

// load.bytes and load.u8 ... load.u64: from the image once laid out, else
// from the bytes the module has emitted so far.
qovrin::Result<value::Value> evalOutputLoad(AssemblerBuiltin builtin, Arguments arguments,
                                            const EvaluationContext& context);

// One argument evaluated as evaluateBuiltinValueArg does, required to be an
// integer (else TypeMismatch).
qovrin::Result<std::uint64_t> evaluateBuiltinIntegerArg(const BuiltinArgument& argument,
                                                        const EvaluationContext& context);

// The first argument as a string (no argument: InvalidArgument; another kind:
// TypeMismatch).
qovrin::Result<std::string> builtinStringArg(Arguments arguments, const EvaluationContext& context);

// The argument at index, which must be a bare name (else InvalidArgument).
qovrin::Result<std::string_view> builtinIdentifierArg(Arguments arguments, std::size_t index);

// The label a label_addr argument names: an expression gives a string; a bare
// name stands for itself unless it resolves to a string, which is then the
// name. Raw text or no argument: InvalidArgument.
qovrin::Result<std::string> builtinLabelNameArg(Arguments arguments, const EvaluationContext& context);

// Address of the module label of that name: UndefinedSymbol when there is
// none, InvalidOperand for a named value. Locals are not consulted.
qovrin::Result<std::uint64_t> labelAddress(const EvaluationContext& context, std::string_view name);

// Layout size of a registered type or fixed-width integer name.
qovrin::Result<std::uint64_t> sizeofType(const EvaluationContext& context, std::string_view type_name);

// Offset of a field, or of a dotted path of nested fields, in a registered
// struct or union type.
qovrin::Result<std::uint64_t> offsetOf(const EvaluationContext& context, std::string_view type_name,
                                       std::string_view path);

// Where an output load or region query points. When the section is not known
// (a bare integer, or an expression naming no label), the address is looked
// up among all regions of the image, or in the current section before layout.
struct OutputPosition {
  std::uint64_t address = 0;
  std::uint32_t section = 0;
  bool section_known = false;
};

qovrin::Result<OutputPosition> outputLoadTarget(const EvaluationContext& context, const BuiltinArgument& argument);
// The same for an expression tree: a bare name as a name, else the value,
// in the section of the first label the expression names.
qovrin::Result<OutputPosition> resolveOutputExpressionTarget(const EvaluationContext& context, const Node& node);

// Width of load.u8 ... load.u64; none for any other name.
std::optional<std::uint64_t> loadByteCount(std::string_view name) noexcept;

}  // namespace frontend::expr
