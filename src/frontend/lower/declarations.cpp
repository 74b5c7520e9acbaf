// Labels, let/const, assignments, struct and union declarations, return, and
// the API calls that lowering itself answers.

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "common/ascii.hpp"
#include "common/name_table.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/aggregate_literal.hpp"
#include "frontend/lower/api.hpp"
#include "frontend/lower/collection_mutation.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/statement_cases.hpp"
#include "frontend/lower/value_binding.hpp"
#include "frontend/lower/macro.hpp"
#include "frontend/values/type_name.hpp"
#include "frontend/values/typecheck.hpp"

namespace frontend::lower::statement_cases {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

// Calls that change the output, the target or the set of lowered sources;
// a value function may run at assembly time, so none of them is allowed there.
constexpr std::array<std::string_view, 48> kSideEffectCalls = {
    "isa",
    "emit.u8",
    "emit.u16",
    "emit.u32",
    "emit.u64",
    "emit.f32",
    "emit.f64",
    "db",
    "dw",
    "dd",
    "dp",
    "dq",
    "dt",
    "ddq",
    "dqq",
    "ddqq",
    "rb",
    "rw",
    "rd",
    "rp",
    "rq",
    "rt",
    "rdq",
    "rqq",
    "rdqq",
    "region.begin",
    "region.file_align",
    "emit.bytes",
    "emit.file",
    "emit.struct",
    "pad",
    "pad_to",
    "align",
    "reserve",
    "label.define",
    "virtual.begin",
    "virtual.end",
    "origin",
    "output.org",
    "output.section",
    "x86.use16",
    "x86.use32",
    "x86.use64",
    "riscv.use32",
    "riscv.use64",
    "spv.use",
    "include",
    "import",
};

bool hasSideEffect(std::string_view name) noexcept {
  return name.starts_with("store.") || qovrin::indexOfName(kSideEffectCalls, name).has_value();
}

// `m (a), b` parses as a call of m but is a macro line whose first operand
// happens to start with a parenthesis.
qovrin::Result<bool> expandMacroWrittenAsCall(Lowering& lowering, const ast::ApiCallStatement& call) {
  // Most sources define no macro: their calls need no look at the text.
  if (lowering.context.macros.empty()) return false;
  const std::string_view text = call.call_text;
  if (text.size() <= call.name.size() || !qovrin::isOneOf(text[call.name.size()], "\t\n\v\f\r "))
    return false;
  if (!lowering.context.macros.contains(call.name)) return false;
  return macro::dispatch(lowering.module, lowering.cursor, lowering.active_outputs, text, call.location,
                         lowering.context);
}

qovrin::Result<Value> initializerValue(Lowering& lowering, const ast::StructLiteralValue& initializer,
                                       const SourceLocation& location) {
  return value_binding::lowerInitializerReporting(lowering.module, lowering.context, lowering.cursor, initializer,
                                                  location, aggregate_literal::standardEvaluators());
}

// A field default, evaluated with nothing but the module: no locals, no
// position, no services.
qovrin::Result<std::uint64_t> fieldDefault(module::Module& module, std::string_view text) {
  const auto tree = expr::parseOwned(text);
  if (!tree) return fail(expression_bridge::mapExpressionError(tree.error()));
  const auto result = expr::evaluateValue(*tree, expr::EvaluationContext{.module = module});
  if (!result) return fail(expression_bridge::mapExpressionError(result.error()));
  const auto* integer = result->asInteger();
  if (integer == nullptr) return fail(expression_bridge::mapExpressionError(Error::TypeMismatch));
  return integer->word;
}

qovrin::Result<types::StructField> declaredField(module::Module& module, const ast::StructDeclarationField& field) {
  const auto type_id = type_name::resolveNamedOrFixedInteger(module.typeTables(), field.type_name);
  if (!type_id) return fail(type_id.error());
  if (!*type_id) return fail(Error::UnknownTypeName);
  types::StructField declared{field.name, 0, std::nullopt, **type_id};
  if (!field.default_value) return declared;
  const types::Type* type = module.types().find(declared.type_id);
  if (type == nullptr) return fail(Error::InvalidType);
  const auto* integer = type->getIf<types::IntegerType>();
  if (integer == nullptr) return fail(Error::InvalidStructField);
  const auto word = fieldDefault(module, *field.default_value);
  if (!word) return fail(word.error());
  // A default that does not fit would reach the output as a silently cut value.
  if (!types::integerFits(*word, *integer)) return fail(Error::InvalidApiInteger);
  declared.default_value = *word;
  return declared;
}

}  // namespace

qovrin::Status lowerLabel(Lowering& lowering, const ast::LabelStatement& label) {
  if (lowering.context.value_function_depth > 0) return fail(Error::SideEffectInValueFunction);
  QOVRIN_TRY(layout_cursor::requireOpenOutputRegion(lowering.cursor));
  const auto position = layout_cursor::activeFragmentPosition(lowering.module, lowering.cursor.section);
  if (!position) return fail(position.error());
  return lowering.module.defineAnchoredLabel(label.name, lowering.cursor.section, lowering.cursor.offset, *position,
                                             label.location);
}

qovrin::Status lowerValueDeclaration(Lowering& lowering, const ast::ValueDeclarationStatement& declaration) {
  auto value = initializerValue(lowering, declaration.initializer, declaration.location);
  if (!value) return fail(value.error());
  module::Module& module = lowering.module;
  if (declaration.type_name) {
    const auto annotation = typecheck::annotationFromName(module.typeTables(), *declaration.type_name);
    if (!annotation) return fail(annotation.error());
    if (!*annotation) return fail(Error::InvalidValueDeclaration);
    const value::ValueKind kind = value->kind();
    if (const auto coerced = typecheck::coerceValueToAnnotation(module.types(), *value, *annotation); !coerced) {
      lowering.context.refused = context::RefusedValue{declaration.location, 0, kind};
      return coerced;
    }
  }
  if (!lowering.context.scopes.empty())
    return context::defineLocalValue(lowering.context, declaration.name, std::move(*value), declaration.is_mutable);
  return module.defineValue(declaration.name, std::move(*value), declaration.is_mutable, declaration.location);
}

qovrin::Status lowerAssignment(Lowering& lowering, const ast::AssignmentStatement& assignment) {
  context::LowerContext& context = lowering.context;
  const expr::Handover outer =
      std::exchange(context.handover, value_binding::assignmentHandover(lowering.module, context, assignment));
  auto value = initializerValue(lowering, assignment.value, assignment.location);
  context.handover = outer;
  if (!value) return fail(value.error());
  const auto assigned = context::setLocalValue(lowering.context, assignment.target, std::move(*value));
  if (!assigned) return fail(assigned.error());
  if (*assigned) return {};
  if (lowering.context.value_function_depth > 0) return fail(Error::SideEffectInValueFunction);
  symbol::Symbol* symbol = lowering.module.findSymbol(assignment.target);
  symbol::ValueSymbol* target = symbol == nullptr ? nullptr : symbol->value();
  if (target == nullptr || !target->is_mutable) return fail(Error::InvalidValueDeclaration);
  lowering.module.writableValue(*target) = std::move(*value);
  return {};
}

qovrin::Status lowerStructDeclaration(Lowering& lowering, const ast::StructDeclarationStatement& declaration) {
  module::Module& module = lowering.module;
  std::vector<types::StructField> fields;
  fields.reserve(declaration.fields.size());
  for (const ast::StructDeclarationField& field : declaration.fields) {
    auto declared = declaredField(module, field);
    if (!declared) return fail(declared.error());
    fields.push_back(std::move(*declared));
  }
  auto aggregate = types::layOutAggregate(module.types(), declaration.name, std::move(fields), declaration.is_union,
                                          declaration.packed);
  if (!aggregate) return fail(aggregate.error());
  const auto id = type_name::addAggregateType(module.typeTables(), std::move(*aggregate));
  if (!id) return fail(id.error());
  return {};
}

qovrin::Status lowerApiCallStatement(Lowering& lowering, const ast::ApiCallStatement& call) {
  const auto expanded = expandMacroWrittenAsCall(lowering, call);
  if (!expanded) return fail(expanded.error());
  if (*expanded) return {};
  if (collection_mutation::isCollectionMutation(call))
    return collection_mutation::lowerCollectionMutation(lowering.module, lowering.context, lowering.cursor, call);
  if (lowering.context.value_function_depth > 0 && hasSideEffect(call.name))
    return fail(Error::SideEffectInValueFunction);
  return api::lowerApiCall(lowering.module, lowering.cursor, lowering.active_outputs, call, lowering.context);
}

qovrin::Status lowerReturn(Lowering& lowering, const ast::ReturnStatement& statement) {
  context::LowerContext& context = lowering.context;
  if (context.value_function_depth == 0) return fail(Error::InvalidMetaFunction);
  context.pending_return.reset();
  auto value = root::evalValueAtContext(lowering.module, context, lowering.cursor, statement.value);
  if (!value) return fail(value.error());
  context.pending_return = std::move(*value);
  return fail(Error::MetaFunctionReturned);
}

}  // namespace frontend::lower::statement_cases
