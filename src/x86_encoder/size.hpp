#pragma once
// Sizing: interprets the chosen template's byte-code program once, takes
// every prefix, REX, VEX and EVEX decision, and returns the instruction's
// exact length. Code generation relies on the state it leaves.

#include <array>
#include <cstdint>
#include <span>

#include "common/error.hpp"
#include "x86_encoder/instruction.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::size {

// Prefix problems that only warrant a diagnostic.
enum class PrefixCounter : std::uint8_t {
  bnd_dropped = 0,
  lock_not_lockable = 1,
  lock_xchg = 2,
  elision_needs_lock = 3,
  elision_invalid = 4,
  hint_removed = 5,
  reserve_unknown = 6,
};
// Counts within one instruction, saturating. Bytes: the record is cleared for
// every instruction, and seven words would take a string instruction that is
// slow to start.
using PrefixCounters = std::array<std::uint8_t, 7>;

struct X86SizeContext {
  PrefixCounters* counters = nullptr;
  bool long_mode_cpu = false;
  bool rex2_allowed = false;
  bool present = false;
  bool bnd_by_default = false;
};

qovrin::Result<std::int64_t> calcSizeWithContext(api::X86Instruction& instruction, const X86SizeContext& context);

// The width of an "iwd" or "rel" field of operand: 2 or 4 bytes.
std::uint8_t wordOrDwordWidth(const api::X86Operand& operand, std::uint8_t operand_bits) noexcept;

// Program bytes of a template; empty when the range lies outside the pool.
inline std::span<const std::uint8_t> programOf(std::uint32_t template_index) noexcept {
  if (template_index >= tables::kTemplateCount) return {};
  return tables::TemplateRef{template_index}.program();
}

// The program sizing and generation walk: the remembered copy when there is
// one, else the template's own.
inline std::span<const std::uint8_t> programFor(const api::X86Instruction& instruction) noexcept {
  if (!instruction.remembered_program.empty()) return instruction.remembered_program;
  return programOf(instruction.template_index);
}

// Element size of the reserve mnemonics; 0 for every other opcode.
std::uint8_t reserveElementSize(std::uint16_t opcode) noexcept;

}  // namespace x86_encoder::size
