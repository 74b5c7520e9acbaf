#pragma once
// Template matching: grades every template of the instruction's mnemonic
// against the parsed operands, mode, sizes and prefixes, and records the
// best one in the instruction.

#include <cstdint>

#include "x86_encoder/instruction.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::match {

// Grades; kMatchSuccess and above is success and kMatchGood the only success
// produced.
inline constexpr std::uint32_t kMatchGood = 30;
inline constexpr std::uint32_t kMatchSuccess = 22;
// The template would take the operands if a memory operand written without a
// size had the one the template asks for there; the most specific failure,
// since every other test has passed.
inline constexpr std::uint32_t kMatchSizeMissing = 21;
// The operands fit, in this mode, but bnd or nobnd was written before a form
// that is no near branch.
inline constexpr std::uint32_t kMatchBndRefused = 16;
// The operands fit a near branch, but repne or repnz was written before it,
// whose F2 byte would read as bnd.
inline constexpr std::uint32_t kMatchRepneBeforeBranch = 17;

// kMatchGood with the template recorded, or a failing grade; templates that
// cannot succeed are not graded, so a failing grade only tells that none
// matched, except kMatchSizeMissing: the templates that would match leave an
// unsized memory operand more than one size. When they all agree on one size
// per operand, the operand takes it (as if written) and the search runs again.
// Tries only the templates of the operands' shape group (tables::shapeCandidates).
std::uint32_t findMatch(api::X86Instruction& instruction);

// The same search over every template of the mnemonic: the answer the shape
// groups must reproduce.
std::uint32_t findMatchByScan(api::X86Instruction& instruction);

std::uint32_t jmpMatch(const api::X86Instruction& instruction, tables::TemplateRef candidate);

bool shouldContinueExactOverrideSearch(tables::TemplateRef candidate) noexcept;

// Whether a template of the mnemonic is a relaxable jump, whose grade depends
// on the distance to its target.
bool hasRelaxableJump(std::uint16_t opcode) noexcept;

}  // namespace x86_encoder::match

namespace x86_encoder::api {

struct SpeculativeSize {
  std::int64_t size = 0;
  bool failed = false;
};

// Sizes a candidate on a copy of the record, so the caller's record stays
// as it was.
struct BuiltinMatchContext {
  static SpeculativeSize calcSizeSpeculative(const X86Instruction& instruction, tables::TemplateRef candidate);
};

}  // namespace x86_encoder::api
