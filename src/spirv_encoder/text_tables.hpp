#pragma once
// Constant SPIR-V tables generated at build time from the Khronos grammar:
// the core instructions, the operations OpSpecConstantOp may name, the
// enumerants of every operand kind and the four extended instruction sets.
// Lookups are exact and case-sensitive and give the first row in table order
// that matches; generated hash slots stand in for the linear scan.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "spirv_encoder/generated_tables.hpp"
#include "spirv_encoder/table_rows.hpp"

namespace spirv_encoder::text_tables {

constexpr std::uint16_t kindNumber(OperandKind kind) noexcept { return static_cast<std::uint16_t>(kind); }

// Kinds outside the table read as value enumerations, which find no names.
inline KindClass classOf(std::uint16_t kind) noexcept {
  return kind < kOperandKindCount ? spirv_kind_classes[kind] : KindClass::Value;
}

inline std::span<const OperandDescriptor> operandsOf(const InstructionRow& row) noexcept {
  return std::span(spirv_operand_pool).subspan(row.first_operand, row.operand_count);
}

inline std::span<const std::uint16_t> parametersOf(const EnumerantRow& row) noexcept {
  return std::span(spirv_parameter_pool).subspan(row.first_parameter, row.parameter_count);
}

// Core instruction by its full name ("OpTypeInt"); null when none.
const InstructionRow* findInstruction(std::string_view name) noexcept;

// Instruction OpSpecConstantOp may name, without "Op" ("IAdd"); null when none.
const InstructionRow* findSpecConstantOp(std::string_view name) noexcept;

// Instruction of an extended set by name ("Sqrt"); null when none.
const InstructionRow* findExtInst(ExtInstSet set, std::string_view name) noexcept;

// The set an OpExtInstImport string names; none for any other name.
std::optional<ExtInstSet> findExtInstSet(std::string_view name) noexcept;

// Enumerant of the given kind by name; null when the kind has no such name.
const EnumerantRow* lookupEnumerant(std::uint16_t kind, std::string_view name) noexcept;

// First enumerant of the kind with exactly this value; null when none.
const EnumerantRow* enumerantByValue(std::uint16_t kind, std::uint32_t value) noexcept;

}  // namespace spirv_encoder::text_tables
