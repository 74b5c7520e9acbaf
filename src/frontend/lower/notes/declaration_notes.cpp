#include "frontend/lower/notes/declaration_notes.hpp"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "frontend/syntax/parser.hpp"
#include "frontend/values/type_name.hpp"
#include "frontend/values/typecheck.hpp"

namespace frontend::lower::declaration_notes {

using diagnostic::Note;
using failure_asking::Asking;
using failure_asking::oneNote;
using failure_asking::quoted;
using failure_asking::valueText;

namespace {

// Why a local that is not a let cannot be assigned.
std::string immutableLocalNote(const context::MetaLocal& local) {
  const std::string name = quoted(local.name);
  const std::string copy = "; 'let copy = " + local.name + "' gives a copy that can be";
  switch (local.kind) {
    case context::LocalKind::loop_variable:
      return name + " is the variable of a 'for' loop, which takes each item in turn and cannot be assigned" + copy;
    case context::LocalKind::macro_parameter:
      return name + " is a macro parameter, which stands for its operand and cannot be assigned" + copy;
    case context::LocalKind::parameter:
      return name + " is a parameter of the function; written 'let " + local.name +
             "' in the parameter list it can be assigned";
    case context::LocalKind::declared:
      break;
  }
  return name + " is a const; declare it with 'let' to assign to it";
}

// A struct literal's fields against the struct: an unknown name, a field
// left out, a value wider than its field. Nested literals are looked at too.
std::optional<std::string> literalNote(const Asking& asking, const ast::StructLiteralArgument& literal) {
  const auto id = asking.module.typeNames().find(literal.type_name);
  if (!id) return quoted(literal.type_name) + " is not a type name";
  const types::Type* type = asking.module.types().find(*id);
  const auto* aggregate = type == nullptr ? nullptr : type->getIf<types::AggregateType>();
  if (aggregate == nullptr) return quoted(literal.type_name) + " is not a struct";
  const std::string struct_name = quoted(literal.type_name);
  std::string names;
  for (const types::StructField& field : aggregate->fields) names += (names.empty() ? "" : ", ") + field.name;
  const auto given = [&](std::string_view name) -> const ast::StructLiteralField* {
    for (const ast::StructLiteralField& field : literal.fields)
      if (literal.nameOf(field) == name) return &field;
    return nullptr;
  };
  for (const ast::StructLiteralField& field : literal.fields) {
    const auto declared = std::ranges::find(aggregate->fields, literal.nameOf(field), &types::StructField::name);
    if (declared == aggregate->fields.end())
      return quoted(literal.nameOf(field)) + " is not a field of " + struct_name + " (its fields: " + names + ")";
  }
  for (const types::StructField& field : aggregate->fields) {
    const ast::StructLiteralField* value = given(field.name);
    if (value == nullptr) {
      if (!aggregate->is_union && !field.default_value)
        return "field " + quoted(field.name) + " of " + struct_name + " has no value and no default";
      continue;
    }
    if (ast::isStructLiteral(value->value)) {
      if (auto nested = literalNote(asking, ast::structLiteralOf(value->value))) return nested;
      continue;
    }
    const types::Type* field_type = asking.module.types().find(field.type_id);
    const auto* integer = field_type == nullptr ? nullptr : field_type->getIf<types::IntegerType>();
    if (integer == nullptr) continue;
    const auto word = asking.evaluate(ast::expressionOf(value->value));
    if (!word || word->asInteger() == nullptr || types::integerFits(word->asInteger()->word, *integer)) continue;
    return valueText(*word) + " does not fit field " + quoted(field.name) + " of " + struct_name + ", " +
           std::string(integer->is_signed ? "a signed " : "an unsigned ") + std::to_string(integer->bits) +
           "-bit integer";
  }
  return std::nullopt;
}

}  // namespace

// An assignment to a name that cannot take one.
std::vector<Note> assignmentNotes(const Asking& asking, const ast::AssignmentStatement& assignment) {
  const std::string name = quoted(assignment.target);
  for (auto scope = asking.context.scopes.rbegin(); scope != asking.context.scopes.rend(); ++scope)
    if (const context::MetaLocal* local = scope->find(assignment.target))
      return local->is_mutable ? std::vector<Note>{} : oneNote(immutableLocalNote(*local));
  const symbol::Symbol* symbol = asking.module.findSymbol(assignment.target);
  if (symbol == nullptr) return oneNote(name + " is not declared; 'let " + assignment.target + " = ...' declares it");
  const SourceLocation defined = symbol->location();
  const auto* target = symbol->value();
  if (target == nullptr) return {{name + " is a label, not a value", std::nullopt}, {"defined here", defined}};
  if (target->is_mutable) return {};
  // Only the project file's defines are bound before any source is read.
  if (!defined.span.source)
    return oneNote(name +
                   " is set by the [defines] table of qovrin.toml, which a source cannot assign to; 'let copy = " +
                   assignment.target + "' gives a copy that can be");
  return {{name + " is a const; declare it with 'let' to assign to it", std::nullopt}, {"declared here", defined}};
}

// A declaration annotated with a name that is no type.
std::vector<Note> annotationNotes(const Asking& asking, const ast::ValueDeclarationStatement& declaration) {
  if (!declaration.type_name) return {};
  const auto annotation = typecheck::annotationFromName(asking.module.typeTables(), *declaration.type_name);
  if (!annotation || *annotation) return {};
  return oneNote(quoted(*declaration.type_name) + " is not a type name; the type names are " +
                 typecheck::annotationNames() +
                 ", the fixed-width integers u8, u16, u32, u64, i8, i16, i32 and i64, and declared struct and union "
                 "names");
}

std::vector<Note> structLiteralNotes(const Asking& asking, const ast::Statement& statement) {
  std::vector<const ast::StructLiteralValue*> values;
  if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload))
    values.push_back(&declaration->initializer);
  else if (const auto* assignment = std::get_if<ast::AssignmentStatement>(&statement.payload))
    values.push_back(&assignment->value);
  for (const ast::StructLiteralValue* value : values) {
    if (!ast::isStructLiteral(*value)) continue;
    if (auto note = literalNote(asking, ast::structLiteralOf(*value))) return oneNote(std::move(*note));
  }
  // A call keeps a literal argument as its text, read again where it is used.
  if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload))
    for (const ast::ApiCallArgument& argument : call->arguments) {
      const auto text = argument.structLiteralText();
      if (!text) continue;
      const auto literal = parser::parseStructLiteralArgument(*text);
      if (!literal) continue;
      if (auto note = literalNote(asking, *literal)) return oneNote(std::move(*note));
    }
  return {};
}

// A struct field whose type name names no type, at the field's own line.
std::vector<Note> fieldTypeNotes(const Asking& asking, const ast::StructDeclarationStatement& declaration) {
  for (const ast::StructDeclarationField& field : declaration.fields) {
    if (type_name::namesType(asking.module.typeNames(), field.type_name)) continue;
    return {{"field " + quoted(field.name) + " has the type " + quoted(field.type_name) +
                 ", which is not a type name (integers are a width such as 'u32'; a struct must be declared before)",
             field.location}};
  }
  return {};
}

}  // namespace frontend::lower::declaration_notes
