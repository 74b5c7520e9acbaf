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

// Encodes one instruction fragment right after lowering appended it, so that
// positions read later in lowering see its true size. A line that cannot be
// encoded now is left alone and fails in the pass, with its diagnostic, and
// SPIR-V lines wait for the pass, which builds their module as a whole.
// An instruction that leaves nothing to patch becomes bytes of a run and its
// fragment may go (Module::settleIntoRun). Returns the bytes the line now
// holds: 0 when it was not encoded.
// The memo, when given, remembers x86 template searches across lines.
std::uint64_t settleInstruction(module::Module& module, std::uint32_t index,
                                x86_encoder::match::MatchMemo* memo = nullptr);

// Appends an instruction line and settles it as settleInstruction does, but
// a line that would join the open run goes there without the fragment it
// would have had for a moment. Fails as Module::appendIsaInstruction does.
qovrin::Result<std::uint64_t> appendSettledInstruction(module::Module& module, std::uint32_t section,
                                                       target::Target target, std::string_view text,
                                                       const SourceLocation& location,
                                                       x86_encoder::match::MatchMemo* memo = nullptr);

// Gives every anchored label the laid-out offset of the fragment it stands in
// front of, or the section's memory size when it stands at the end.
qovrin::Status syncAnchoredLabelOffsets(module::Module& module);

// The fixed message the pass reports for an encoding failure; none for the
// failures it returns without a diagnostic.
std::optional<std::string_view> encodeFailureMessage(qovrin::Error error) noexcept;

}  // namespace frontend::pass
