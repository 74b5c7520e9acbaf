// Builtins on types, floats, the current position, labels and unique names.

#include <algorithm>
#include <cmath>

#include "frontend/evaluate/expr_builtin.hpp"
#include "frontend/values/type_name.hpp"
#include "frontend/values/value_pack.hpp"

namespace frontend::expr {

using qovrin::Error;
using qovrin::fail;
using value::Value;
using value::ValueKind;

namespace {

qovrin::Status expectCount(Arguments arguments, std::size_t count) {
  if (arguments.size() != count) return fail(Error::InvalidArgument);
  return {};
}

qovrin::Result<Value> singleValue(Arguments arguments, const EvaluationContext& context) {
  QOVRIN_TRY(expectCount(arguments, 1));
  return evaluateBuiltinValueArg(arguments[0], context);
}

qovrin::Result<Value> convertFloat(Arguments arguments, const EvaluationContext& context, bool to_float32) {
  auto number = singleValue(arguments, context);
  if (!number) return number;
  if (const auto* wide = number->getIf<double>()) {
    if (!to_float32) return number;
    const float narrow = static_cast<float>(*wide);
    if (!std::isfinite(narrow)) return fail(Error::InvalidNumber);
    return Value::float32(narrow);
  }
  if (const auto* narrow = number->getIf<float>()) return to_float32 ? number : Value::float64(*narrow);
  return fail(Error::TypeMismatch);
}

std::uint64_t decimalDigits(std::uint64_t word) noexcept {
  std::uint64_t digits = 1;
  for (; word >= 10; word /= 10) ++digits;
  return digits;
}

qovrin::Result<Value> lengthOf(Arguments arguments, const EvaluationContext& context) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const BuiltinArgument& argument = arguments[0];
  // A literal's length needs no evaluation.
  if (argument.kind() == BuiltinArgument::Kind::expression &&
      (argument.node().kind() == NodeKind::string || argument.node().kind() == NodeKind::bytes))
    return Value::integer(argument.node().text().size());
  const auto evaluated = evaluateBuiltinValueArg(argument, context);
  if (!evaluated) return fail(evaluated.error());
  if (const auto* text = evaluated->asString()) return Value::integer(text->size());
  if (const auto* bytes = evaluated->asBytes()) return Value::integer(bytes->size());
  if (const auto* integer = evaluated->asInteger()) return Value::integer(decimalDigits(integer->word));
  return fail(Error::TypeMismatch);
}

qovrin::Result<Value> packStruct(Arguments arguments, const EvaluationContext& context) {
  const auto structure = singleValue(arguments, context);
  if (!structure) return fail(structure.error());
  const auto* fields = structure->asStruct();
  if (fields == nullptr) return fail(Error::TypeMismatch);
  auto bytes = value::packStructValue(context.module.types(), *fields);
  if (!bytes) {
    if (bytes.error() == Error::IntegerOverflow) return fail(Error::InvalidNumber);
    if (bytes.error() == Error::ExpectedStruct) return fail(Error::TypeMismatch);
    return fail(bytes.error());
  }
  return Value::bytes(std::move(*bytes));
}

std::uint64_t add(std::uint64_t a, std::uint64_t b, bool& overflow) noexcept {
  std::uint64_t sum = 0;
  overflow = overflow || __builtin_add_overflow(a, b, &sum);
  return sum;
}

// here, region_base, file_offset and the file cursors, from the current
// section and the context's offset and real file cursor.
qovrin::Result<Value> position(AssemblerBuiltin builtin, Arguments arguments, const EvaluationContext& context) {
  QOVRIN_TRY(expectCount(arguments, 0));
  const std::uint64_t offset = context.offset;
  const auto cursor = context.file_cursor;
  if (builtin == AssemblerBuiltin::tail_reserve_size)
    return Value::integer(cursor && *cursor < offset ? offset - *cursor : 0);
  if (!context.current_section) return fail(Error::MissingEvaluationContext);
  const auto& sections = context.module.sections();
  if (!sections.contains(*context.current_section)) return fail(Error::InvalidOperand);
  const section::Section& section = sections[*context.current_section];
  bool overflow = false;
  std::uint64_t result = 0;
  switch (builtin) {
    case AssemblerBuiltin::here:
      result = add(section.base, offset, overflow);
      break;
    case AssemblerBuiltin::region_base:
      result = section.base;
      break;
    case AssemblerBuiltin::file_offset:
    case AssemblerBuiltin::file_cursor_real:
      result = add(section.file_offset, cursor.value_or(offset), overflow);
      break;
    default:
      result = add(section.file_offset, offset, overflow);
      break;
  }
  if (overflow) return fail(Error::InvalidNumber);
  return Value::integer(result);
}

qovrin::Result<Value> uniqueSymbol(Arguments arguments, const EvaluationContext& context) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const auto prefix = builtinStringArg(arguments, context);
  if (!prefix) return fail(prefix.error());
  if (context.hooks == nullptr || !context.hooks->unique_symbol) return fail(Error::MissingEvaluationContext);
  auto name = context.hooks->unique_symbol(*prefix);
  if (!name) return fail(name.error());
  return Value::string(std::move(*name));
}

template <typename Compute>
qovrin::Result<Value> integerResult(Compute&& compute) {
  const auto word = compute();
  if (!word) return fail(word.error());
  return Value::integer(*word);
}

}  // namespace

qovrin::Result<std::uint64_t> labelAddress(const EvaluationContext& context, std::string_view name) {
  const symbol::Symbol* symbol = context.module.findSymbol(name);
  if (symbol == nullptr) return fail(Error::UndefinedSymbol);
  const symbol::Label* label = symbol->label();
  if (label == nullptr) return fail(Error::InvalidOperand);
  return context.module.labelAddress(*label);
}

qovrin::Result<std::uint64_t> sizeofType(const EvaluationContext& context, std::string_view type_name) {
  const auto type = type_name::resolveNamedOrFixedInteger(context.module.typeTables(), type_name);
  if (!type) {
    const bool limit = type.error() == Error::DuplicateTypeName || type.error() == Error::TooManyTypes;
    return fail(limit ? Error::InvalidType : type.error());
  }
  if (!*type) return fail(Error::UnknownTypeName);
  const auto layout = context.module.types().layoutOf(**type);
  if (!layout) return fail(Error::InvalidOperand);
  return layout->size;
}

qovrin::Result<std::uint64_t> offsetOf(const EvaluationContext& context, std::string_view type_name,
                                       std::string_view path) {
  auto type = context.module.typeNames().find(type_name);
  if (!type) return fail(Error::UnknownTypeName);
  if (path.empty() || path.starts_with('.') || path.ends_with('.') || path.find("..") != std::string_view::npos)
    return fail(Error::InvalidArgument);
  std::uint64_t offset = 0;
  while (!path.empty()) {
    const std::size_t dot = std::min(path.find('.'), path.size());
    const std::string_view component = path.substr(0, dot);
    path.remove_prefix(std::min(dot + 1, path.size()));
    const types::Type* current = context.module.types().find(*type);
    const auto* aggregate = current != nullptr ? current->getIf<types::AggregateType>() : nullptr;
    if (aggregate == nullptr) return fail(Error::InvalidOperand);
    const auto field = std::ranges::find(aggregate->fields, component, &types::StructField::name);
    if (field == aggregate->fields.end()) return fail(Error::UnknownField);
    if (__builtin_add_overflow(offset, field->offset, &offset)) return fail(Error::InvalidNumber);
    type = field->type_id;
  }
  return offset;
}

qovrin::Result<Value> evalAssemblerBuiltin(AssemblerBuiltin builtin, Arguments arguments,
                                           const EvaluationContext& context) {
  using enum AssemblerBuiltin;
  switch (builtin) {
    case f32:
    case f64:
      return convertFloat(arguments, context, builtin == f32);
    case size_of:
      return integerResult([&]() -> qovrin::Result<std::uint64_t> {
        QOVRIN_TRY(expectCount(arguments, 1));
        const auto name = builtinIdentifierArg(arguments, 0);
        if (!name) return fail(name.error());
        return sizeofType(context, *name);
      });
    case length_of:
      return lengthOf(arguments, context);
    case pack:
      return packStruct(arguments, context);
    case offset_of:
      return integerResult([&]() -> qovrin::Result<std::uint64_t> {
        QOVRIN_TRY(expectCount(arguments, 2));
        const auto type = builtinIdentifierArg(arguments, 0);
        if (!type) return fail(type.error());
        const auto path = builtinIdentifierArg(arguments, 1);
        if (!path) return fail(path.error());
        return offsetOf(context, *type, *path);
      });
    case here:
    case region_base:
    case file_offset:
    case file_cursor_real:
    case file_cursor_potential:
    case tail_reserve_size:
      return position(builtin, arguments, context);
    case region_file_offset:
    case region_file_size:
    case region_logical_size:
      return evalRegionBuiltin(builtin, arguments, context);
    case label_addr:
      return integerResult([&]() -> qovrin::Result<std::uint64_t> {
        QOVRIN_TRY(expectCount(arguments, 1));
        const auto name = builtinLabelNameArg(arguments, context);
        if (!name) return fail(name.error());
        return labelAddress(context, *name);
      });
    case sym_unique:
      return uniqueSymbol(arguments, context);
    case load_bytes:
    case load_u8:
    case load_u16:
    case load_u32:
    case load_u64:
      return evalOutputLoad(builtin, arguments, context);
  }
  return fail(Error::InvalidOperand);
}

}  // namespace frontend::expr
