#include "frontend/values/typecheck.hpp"

#include <array>
#include <string>

namespace frontend::typecheck {

using qovrin::Error;
using qovrin::fail;
using value::ValueKind;

namespace {

struct KindName {
  std::string_view name;
  AnnotationValueKind kind;
};

constexpr std::array<KindName, 13> kKindNames = {{
    {"void", AnnotationValueKind::void_},
    {"bool", AnnotationValueKind::boolean},
    {"boolean", AnnotationValueKind::boolean},
    {"integer", AnnotationValueKind::integer},
    {"f32", AnnotationValueKind::float32},
    {"f64", AnnotationValueKind::float64},
    {"string", AnnotationValueKind::string},
    {"bytes", AnnotationValueKind::bytes},
    {"type", AnnotationValueKind::type},
    {"struct", AnnotationValueKind::struct_},
    {"list", AnnotationValueKind::list},
    {"map", AnnotationValueKind::map},
    {"operand", AnnotationValueKind::operand},
}};

// The value kind that satisfies each annotation kind, by AnnotationValueKind.
constexpr std::array<ValueKind, 12> kValueKindOf = {
    ValueKind::void_,   ValueKind::boolean, ValueKind::integer, ValueKind::float32,
    ValueKind::float64, ValueKind::string,  ValueKind::bytes,   ValueKind::type,
    ValueKind::struct_, ValueKind::list,    ValueKind::map,     ValueKind::operand,
};

}  // namespace

std::string annotationNames() {
  std::string names;
  for (const KindName& entry : kKindNames) names += (names.empty() ? "" : ", ") + std::string(entry.name);
  return names;
}

std::optional<Annotation> annotationFromName(std::string_view name) noexcept {
  for (const KindName& entry : kKindNames)
    if (entry.name == name) return Annotation{static_cast<std::uint32_t>(entry.kind), AnnotationKind::value_kind};
  return std::nullopt;
}

qovrin::Result<std::optional<Annotation>> annotationFromName(type_name::TypeTables tables, std::string_view name) {
  if (const auto kind = annotationFromName(name)) return kind;
  auto resolved = type_name::resolveNamedOrFixedInteger(tables, name);
  if (!resolved) return fail(resolved.error());
  if (!*resolved && name == "usize") {
    const auto id = type_name::getOrAddIntType(tables, name, 64, false);
    if (!id) return fail(id.error());
    *resolved = *id;
  }
  if (!*resolved) return qovrin::Result<std::optional<Annotation>>(std::in_place);
  const types::Type* type = tables.store.find(**resolved);
  if (type == nullptr) return fail(Error::InvalidValueDeclaration);
  switch (type->kind()) {
    case types::TypeKind::integer:
      return std::optional<Annotation>(Annotation{**resolved, AnnotationKind::integer_type});
    case types::TypeKind::struct_:
    case types::TypeKind::union_:
      return std::optional<Annotation>(Annotation{**resolved, AnnotationKind::struct_type});
    default:
      return qovrin::Result<std::optional<Annotation>>(std::in_place);
  }
}

qovrin::Status coerceValueToAnnotation(const types::TypeStore& store, value::Value& value,
                                       const std::optional<Annotation>& annotation) {
  if (!annotation) return {};
  switch (annotation->kind) {
    case AnnotationKind::value_kind:
      if (annotation->payload < kValueKindOf.size() && value.kind() == kValueKindOf[annotation->payload]) return {};
      return fail(Error::InvalidValueDeclaration);
    case AnnotationKind::integer_type: {
      value::IntegerValue* integer = value.getIf<value::IntegerValue>();
      const types::Type* type = store.find(annotation->payload);
      const types::IntegerType* integer_type = type != nullptr ? type->getIf<types::IntegerType>() : nullptr;
      if (integer == nullptr || integer_type == nullptr || !validateIntegerFitsType(integer->word, *integer_type))
        return fail(Error::InvalidValueDeclaration);
      integer->type_id = annotation->payload;
      return {};
    }
    case AnnotationKind::struct_type: {
      const value::StructValue* structure = value.asStruct();
      if (structure != nullptr && structure->typeId() == annotation->payload) return {};
      return fail(Error::InvalidValueDeclaration);
    }
  }
  return fail(Error::InvalidValueDeclaration);
}

qovrin::Status validateIntegerFitsType(std::uint64_t word, types::IntegerType type) noexcept {
  if (!types::integerFits(word, type)) return fail(Error::InvalidValueDeclaration);
  return {};
}

}  // namespace frontend::typecheck
