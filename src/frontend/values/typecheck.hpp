#pragma once
// Annotations: the type written after a let/const name, a parameter or a
// return arrow, resolved once and checked against values.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "frontend/values/type_name.hpp"
#include "frontend/values/types.hpp"
#include "frontend/values/value.hpp"

namespace frontend::typecheck {

// Numbered unlike the value kinds: boolean comes right after void.
enum class AnnotationValueKind : std::uint8_t {
  void_ = 0,
  boolean = 1,
  integer = 2,
  float32 = 3,
  float64 = 4,
  string = 5,
  bytes = 6,
  type = 7,
  struct_ = 8,
  list = 9,
  map = 10,
  operand = 11,
};

enum class AnnotationKind : std::uint8_t {
  value_kind = 0,    // payload: an AnnotationValueKind
  integer_type = 1,  // payload: id of an integer type
  struct_type = 2,   // payload: id of a struct or union type
};

struct Annotation {
  std::uint32_t payload = 0;
  AnnotationKind kind = AnnotationKind::value_kind;
};

// Without type tables only the value-kind names ("void", "bool", "boolean",
// "integer", "f32", "f64", "string", "bytes", "type", "struct", "list", "map",
// "operand") resolve.
std::optional<Annotation> annotationFromName(std::string_view name) noexcept;

// The names annotationFromName takes, comma-separated, for a message.
std::string annotationNames();

// Value-kind names first, then type names (integer types created on demand,
// "usize" as an unsigned 64-bit integer when nothing else claims it). A name
// denoting void, an array or a blob gives no annotation.
qovrin::Result<std::optional<Annotation>> annotationFromName(type_name::TypeTables tables, std::string_view name);

// Accepts the value as it is, or tags an integer with its integer type id;
// InvalidValueDeclaration when the value does not satisfy the annotation (the
// value is then unchanged). No annotation accepts everything.
qovrin::Status coerceValueToAnnotation(const types::TypeStore& store, value::Value& value,
                                       const std::optional<Annotation>& annotation);

// The word fits the integer type (read as two's complement when signed).
qovrin::Status validateIntegerFitsType(std::uint64_t word, types::IntegerType type) noexcept;

}  // namespace frontend::typecheck
