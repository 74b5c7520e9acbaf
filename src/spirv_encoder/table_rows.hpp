#pragma once
// Row layouts of the generated SPIR-V grammar tables. The generated header
// declares the tables themselves with these types, so the layouts live apart
// from it.

#include <cstdint>
#include <string_view>

namespace spirv_encoder::text_tables {

// How the operand reader turns the tokens of a kind into words.
enum class KindClass : std::uint8_t {
  Id,              // %N
  Integer,         // one 32-bit number
  Float,           // one single-precision number
  String,          // quoted, zero-terminated, packed four bytes a word
  ContextNumber,   // sized by the instruction's result type
  ExtInst,         // an extended instruction, by name in the imported set
  SpecConstantOp,  // an instruction name without "Op", then its operands
  Pair,            // two operands of two fixed kinds
  Bits,            // enumerant names OR-ed with "|", or a number
  Value,           // exactly one enumerant name
};

enum class Quantifier : std::uint8_t { one = 0, optional = 1, variadic = 2 };

struct OperandDescriptor {
  std::uint16_t kind;  // OperandKind
  Quantifier quantifier;
};

// An instruction of the core grammar, a specialization-constant operation or an
// extended instruction; its operands are a run of spirv_operand_pool.
struct InstructionRow {
  std::string_view name;
  std::uint32_t number;  // opcode, or the instruction number within its set
  std::uint16_t first_operand;
  std::uint8_t operand_count;
};

struct EnumerantRow {
  std::string_view name;
  std::uint32_t value;
  std::uint16_t kind;             // OperandKind the enumerant belongs to
  std::uint16_t first_parameter;  // into spirv_parameter_pool
  std::uint8_t parameter_count;
};

enum class ExtInstSet : std::uint8_t {
  glsl_std_450 = 0,
  opencl_std = 1,
  opencl_debug_info_100 = 2,
  nonsemantic_shader_debug_info_100 = 3,
};

struct ExtInstSetName {
  std::string_view name;
  ExtInstSet set;
};

struct RowSpan {
  std::uint16_t first;
  std::uint16_t count;
};

}  // namespace spirv_encoder::text_tables
