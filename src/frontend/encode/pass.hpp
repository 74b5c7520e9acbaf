#pragma once
// The encode pass: every instruction fragment goes to the encoder of the
// target it was lowered for, which stores its bytes and sizes in the fragment
// and leaves fixups for operands it could not resolve; at the end anchored
// labels move to the laid-out offsets of their fragments. It runs as the
// first phase of assembly and whenever lowering reads emitted output.

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/error.hpp"
#include "frontend/module/module.hpp"
#include "x86_encoder/match_memo.hpp"

namespace frontend::pass {

struct EncodePassCounts {
  std::uint64_t instruction_fragments = 0;  // encoded by this run
  std::uint64_t changed = 0;                // whose bytes, sizes or pending flag this run changed
};

// Encoder failures are reported as one error diagnostic at the line and end
// the pass with FrontendDiagnostics; InvalidModeBits, InstructionTooLarge and
// InvalidInstructionText end it without one.
qovrin::Result<EncodePassCounts> encodeInstructionFragments(module::Module& module);

// Appends an instruction line and encodes it right away, so that positions
// read later in lowering see its true size. A line that directly follows the
// open run joins it without a fragment of its own; any other line that
// leaves nothing to patch but fields in place opens a run of its own
// (Module::settleIntoRun). A line that cannot be encoded now keeps its
// fragment and fails in the pass, with its diagnostic, and SPIR-V lines wait
// for the pass, which builds their module as a whole. Returns the bytes the
// line now holds: 0 when it was not encoded. Fails as
// Module::appendIsaInstruction does, and with NestingTooDeep for a line whose
// operands nest past the expression limits.
// The memo, when given, remembers x86 template searches across lines.
qovrin::Result<std::uint64_t> appendSettledInstruction(module::Module& module, std::uint32_t section,
                                                       target::Target target, std::string_view text,
                                                       const SourceLocation& location,
                                                       x86_encoder::match::MatchMemo* memo = nullptr);

qovrin::Status syncAnchoredLabelOffsets(module::Module& module);

// The fixed message the pass reports for an encoding failure; none for the
// failures it returns without a diagnostic.
std::optional<std::string_view> encodeFailureMessage(qovrin::Error error) noexcept;

}  // namespace frontend::pass
