#pragma once
// Constant x86 tables generated at build time from the public instruction
// database: mnemonics, instruction templates, their byte-code programs and
// flag pools, registers and operand qualifier words. The generated header
// brings the tables themselves, their sizes and the rows the encoder names.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "x86_encoder/generated_tables.hpp"
#include "x86_encoder/table_rows.hpp"

namespace x86_encoder::tables {

// The 344 registers, sorted by name with digit runs compared as numbers.
std::span<const RegisterRow> registers() noexcept;

// First register whose name equals text, ASCII case ignored; null when none.
const RegisterRow* findRegister(std::string_view text) noexcept;

// The register whose name has this key: the lower-case name's bytes
// little-endian with its length in the top byte, as the generator computes
// it; null when none. Lets a caller that has already looked at every
// character skip a second pass.
const RegisterRow* findRegisterByKey(std::uint64_t key) noexcept;

// Register with the given id (1-344); null when out of range.
inline const RegisterRow* registerById(int id) noexcept {
  if (id < 1 || static_cast<std::size_t>(id) > kRegisterCount) return nullptr;
  return &x86_registers[static_cast<std::size_t>(id) - 1];
}

std::span<const OperandQualifier> operandQualifiers() noexcept;

// Opcode (row of x86_mnemonic_names) of the first mnemonic equal to text,
// ASCII case ignored; the text is taken as it is, untrimmed. kMnemonicCount
// when none is.
std::uint32_t mnemonicRow(std::string_view text) noexcept;

// mnemonicRow as an optional, made where it is read: an optional returned
// from a call is written to memory in two parts and read back whole, which
// stalls the read until both writes are done. x86_lookup_bench shows it; no
// figure was recorded.
inline std::optional<std::uint16_t> findMnemonic(std::string_view text) noexcept {
  const std::uint32_t row = mnemonicRow(text);
  if (row >= kMnemonicCount) return std::nullopt;
  return static_cast<std::uint16_t>(row);
}

// Empty for an opcode outside the table.
inline std::string_view mnemonicName(std::uint32_t opcode) noexcept {
  return opcode < kMnemonicCount ? x86_mnemonic_names[opcode] : std::string_view{};
}

// Bit n of an instruction-flag row; bits past the row's 224 are clear.
inline bool iflagTest(std::uint16_t iflag_row, std::uint32_t bit) noexcept {
  if (iflag_row >= kIflagRowCount || bit >= kIflagBitCount) return false;
  return (generated_match_tables::iflag_fields[iflag_row][bit / 32] >> (bit % 32)) & 1u;
}
inline bool iflagTest(std::uint16_t iflag_row, Iflag bit) noexcept {
  return iflagTest(iflag_row, static_cast<std::uint32_t>(bit));
}

// A template by its row in x86_templates; valid rows are below kTemplateCount.
struct TemplateRef {
  std::uint32_t index;

  const TemplateRow& row() const noexcept { return x86_templates[index]; }

  bool iflagTest(std::uint32_t bit) const noexcept { return tables::iflagTest(row().iflags, bit); }
  bool iflagTest(Iflag bit) const noexcept { return iflagTest(static_cast<std::uint32_t>(bit)); }

  // The byte-code program, terminator included.
  std::span<const std::uint8_t> program() const noexcept {
    const TemplateRow& r = row();
    if (r.program_offset > kBytecodeBytes || r.program_length > kBytecodeBytes - r.program_offset) return {};
    return std::span(generated_match_tables::bytecodes).subspan(r.program_offset, r.program_length);
  }

  std::uint64_t operandClass(std::size_t slot) const noexcept {
    return generated_match_tables::operand_flags_pool[row().operand_classes[slot]];
  }
  std::uint16_t operandDecorators(std::size_t slot) const noexcept {
    return generated_match_tables::decorator_flags_pool[row().operand_decorators[slot]];
  }
  std::uint32_t extraWord() const noexcept { return x86_iflag_extra_words[row().iflags]; }
  const TemplateTraits& traits() const noexcept { return x86_template_traits[index]; }
  const TemplateFilter& filter() const noexcept { return x86_template_filters[index]; }
};

// The contiguous run of an opcode's templates, in the order matching tries them.
struct TemplateRange {
  std::uint32_t first = 0;
  std::uint32_t count = 0;

  bool empty() const noexcept { return count == 0; }
};

// Empty for an opcode outside the table or without templates.
inline TemplateRange templatesOf(std::uint32_t opcode) noexcept {
  if (opcode >= kMnemonicCount) return {};
  const MnemonicIndexRow& entry = x86_mnemonic_index[opcode];
  if (entry.first_template == kNoTemplate || entry.template_count == 0) return {};
  return {entry.first_template, entry.template_count};
}

// Shape code of an operand's class word: its row in x86_operand_shapes, or
// kNoShape when no shape has its bits. Only a sized operand (a register or
// memory operand without broadcast) counts its size bits.
inline std::uint8_t operandShape(std::uint64_t flags, bool sized) noexcept {
  const std::uint64_t word = (flags & kShapeMask) | (sized ? flags & kShapeSizeMask : 0);
  const std::uint8_t slot = x86_shape_slots[(word * kShapeHashMultiplier) >> (64 - kShapeHashBits)];
  if (slot == 0 || x86_operand_shapes[slot - 1u] != word) return kNoShape;
  return static_cast<std::uint8_t>(slot - 1u);
}

// The positions among the opcode's templates that operands of this shape key
// can match, in table order; nullopt when the opcode is scanned whole.
std::optional<std::span<const std::uint8_t>> shapeCandidates(std::uint32_t opcode, std::uint16_t key) noexcept;

}  // namespace x86_encoder::tables
