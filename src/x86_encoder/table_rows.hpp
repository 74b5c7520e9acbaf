#pragma once
// Row layouts of the generated x86 tables. The generated header declares the
// tables themselves with these types, so the layouts live apart from it.

#include <array>
#include <cstdint>
#include <string_view>

namespace x86_encoder::tables {

// The fields a name lookup reads come first and a row fills one cache line,
// so that finding a register and reading its class touch a single line
// (x86_lookup_bench shows it; no figure was recorded).
struct alignas(64) RegisterRow {
  std::uint64_t key;      // lower-cased name bytes little-endian, length in the top byte
  std::uint64_t flags;    // operand-class word
  std::uint32_t number;   // hardware register number 0-31
  std::int16_t id;        // row + 1
  std::string_view tag;   // "R_AH"
  std::string_view name;  // "ah", lower case
};

struct OperandQualifier {
  std::string_view word;  // "strict", "byte", ...
  std::uint64_t flag;     // OR-ed into the operand's class word
};

inline constexpr std::uint32_t kNoTemplate = 0xFFFFFFFFu;

struct MnemonicIndexRow {
  std::uint32_t first_template;  // kNoTemplate when the mnemonic has none
  std::uint16_t opcode;
  std::uint16_t template_count;
};

struct TemplateRow {
  std::uint32_t program_offset;                     // into generated_match_tables::bytecodes
  std::uint16_t opcode;                             // the mnemonic's row
  std::array<std::uint16_t, 5> operand_classes;     // rows of operand_flags_pool
  std::array<std::uint16_t, 5> operand_decorators;  // rows of decorator_flags_pool
  std::uint16_t program_length;                     // terminator included
  std::uint16_t iflags;                             // row of iflag_fields
  std::uint8_t operand_count;
  std::uint8_t jump_class;  // first program byte: 0370 / 0371 mark relaxable jumps
};
// Packed as listed, so the 12,319 rows take 32 bytes each.
static_assert(sizeof(TemplateRow) == 32);

// What matching would otherwise read out of a template's flags, operand words
// and program on every attempt, worked out once when the tables are built.
struct TemplateTraits {
  // Four bits per operand slot: 0, or n when the slot takes a sized register
  // or memory operand only if its size is bit 31 + n of the class word.
  std::uint32_t exact_sizes;
  std::uint8_t fixed_address_bits;  // 16, 32 or 64 when the program fixes the address size, else 0
  bool overridable;                 // a later template may still replace this one as the exact match
  // A form for processors before the 386 that another form of the mnemonic
  // writes as one instruction: a short jump over a near jmp.
  bool superseded;
};

// What a template demands of the operands' class words and sizes, laid out
// so that matching can turn most templates away without reaching the flag
// pools: the class bits each slot needs (0 past the operand count) and, 16
// bits per slot, the bit of the slot's exact size code (bit 0: any size).
struct TemplateFilter {
  std::array<std::uint64_t, 4> demands;
  std::uint64_t sizes;
  std::uint8_t operand_count;
};

// The templates of one mnemonic that operands of one shape can match: a run
// of positions among the mnemonic's templates, in table order.
struct ShapeGroup {
  std::uint32_t first;  // into x86_shape_positions
  std::uint16_t key;    // operand count, then one shape code per keyed slot
  std::uint16_t count;
};

// A mnemonic's shape groups, sorted by key; none when the mnemonic is scanned whole.
struct ShapeGroupRange {
  std::uint32_t first;
  std::uint32_t count;
};

}  // namespace x86_encoder::tables
