#pragma once
// Between the encoders and the module: the callbacks through which an encoder
// asks for the value of operand text it cannot read itself, the facts they
// record about fields that must wait for a fixup, and the second encoding of
// a RISC-V instruction once its operands are resolved.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.hpp"
#include "frontend/module/fixup.hpp"
#include "frontend/module/fragment.hpp"
#include "frontend/values/target.hpp"
#include "frontend/syntax/source_location.hpp"
#include "riscv_encoder/operand.hpp"
#include "x86_encoder/operand.hpp"

namespace frontend::backend_adapter {

// An operand field whose value is not known when the instruction is encoded.
struct FixupFact {
  std::string text;          // the operand text, trimmed
  std::uint32_t offset = 0;  // of the field in the instruction
  std::uint16_t width = 0;   // of the field, in bits
  bool pc_relative = false;
  fixup::FixupRangePolicy range_policy = fixup::FixupRangePolicy::wrap;
  std::int64_t addend = 0;  // added to the text's value: where the field lies against the instruction's end
  fixup::PointerWidth pointer_width = fixup::PointerWidth::bits64;  // of a PC-relative field
};

// One instruction as the encode pass stores it.
struct InstructionFacts {
  fragment::SmallBytes bytes;  // inline for every instruction: no allocation per line
  std::vector<FixupFact> facts;
  std::uint32_t size = 0;
  bool pending = false;                    // fields wait for fixups
  std::vector<std::string_view> warnings;  // the encoder's, with static lifetime
  // The warning that a value did not fit its field, the value and the bytes
  // of the field; width 0 when the encoder named none.
  std::string_view bounds_warning;
  std::int64_t bounds_value = 0;
  std::uint8_t bounds_width = 0;
  // The line writes no minus, so the value is shown as the unsigned word it
  // was written as (an address from here(), a number from 2^63 up).
  bool bounds_unsigned = false;
  // The comment that ended a RISC-V line's instruction, from its ';' or '#',
  // when it may hold instructions that are not assembled: a view into the
  // line's text, read for the XLEN beside it when the line's warnings are
  // added. Most comments are prose and leave it empty.
  std::string_view comment;
  std::uint8_t comment_xlen = 0;
};

// Context of the x86 resolver: constant text folds, any other becomes a
// fact that the encode pass matches with the field the encoder emits for it.
struct X86ResolverContext {
  std::vector<FixupFact>* facts = nullptr;
  target::Target target;
  // When given, takes the first operand text whose folding failed and the
  // error it failed with, for the note of a refused line.
  std::optional<std::pair<std::string, qovrin::Error>>* fold_failure = nullptr;
};

// The x86 resolver function; the context is an X86ResolverContext. Text that
// does not parse as an expression fails with ExpressionResolutionFailed, or
// with NestingTooDeep when it nests past the expression limits.
qovrin::Result<std::optional<x86_encoder::api::X86ResolvedExpression>> unknownX86ExpressionResolver(
    void* context, std::string_view text);

// Context of the first-encoding hook: every operand the encoder hands over
// becomes a fact and reads as 0. The caller sets the facts' width and
// whether they are relative to the instruction.
struct RiscvFactContext {
  std::vector<FixupFact>* facts = nullptr;
};

// An operand's text and the value its fixup resolved to. The value is wide
// enough for a symbol's address plus an addend without wrapping.
struct ResolvedOperand {
  std::string_view text;
  __int128 value = 0;
};

// Context of the patch-time hook.
struct RiscvPatchContext {
  std::uint64_t address = 0;  // of the instruction
  std::span<const ResolvedOperand> operands;
  bool pc_relative = false;
  unsigned xlen = 64;  // addresses wrap around at 2^xlen
};

// The hook functions; each context is the record above of the same name.
qovrin::Result<riscv_encoder::RiscvResolvedExpression> recordUnresolvedRiscvExpression(void* context,
                                                                                       std::string_view text);
qovrin::Result<riscv_encoder::RiscvResolvedExpression> resolveRiscvExpression(void* context, std::string_view text);

struct RiscvEncoding {
  std::uint32_t word = 0;
  std::uint8_t size = 0;  // 2 or 4
};

// Encodes the fragment's line again at its address with the operands'
// values: PC-relative operands become distances from the instruction. The
// width comes from the fragment's target, or from the module's when the
// fragment's is SPIR-V (InvalidModeBits when neither has one of 32 or 64).
// Encoder failures other than OutOfMemory are UnsupportedRiscvInstruction.
qovrin::Result<RiscvEncoding> encodeResolvedRiscvInstruction(const fragment::Fragment& fragment,
                                                             target::Target module_target, std::uint64_t address,
                                                             std::span<const ResolvedOperand> operands);

// Whether the line's mnemonic, in any XLEN, stores its label operand as an
// offset from the instruction's own address (branches and jumps).
bool riscvMnemonicIsPcRelative(std::string_view text) noexcept;

// Whether `operand` is written where the line's mnemonic takes a CSR number.
bool riscvCsrOperand(std::string_view text, std::string_view operand) noexcept;

}  // namespace frontend::backend_adapter
