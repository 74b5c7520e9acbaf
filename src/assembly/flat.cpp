#include "assembly/flat.hpp"

#include <algorithm>
#include <array>

#include "assembly/deferred_run.hpp"
#include "assembly/fixup_resolution.hpp"
#include "assembly/late_layout_run.hpp"
#include "assembly/materialize.hpp"
#include "assembly/patch.hpp"
#include "common/little_endian.hpp"
#include "frontend/encode/backend_adapter.hpp"
#include "frontend/encode/pass.hpp"

namespace assembly {

using qovrin::fail;

namespace {

// The back-end adapter encodes a RISC-V instruction again with the values
// its fixups resolved to.
qovrin::Result<std::vector<std::uint8_t>> reencodeRiscv(const frontend::fragment::Fragment& fragment,
                                                        frontend::target::Target module_target,
                                                        std::uint64_t instruction_address,
                                                        std::span<const ResolvedOperand> operands) {
  std::array<frontend::backend_adapter::ResolvedOperand, 16> pairs;
  if (operands.size() > pairs.size()) return fail(qovrin::Error::InvalidFixupTarget);
  std::ranges::transform(operands, pairs.begin(), [](const ResolvedOperand& operand) {
    return frontend::backend_adapter::ResolvedOperand{operand.text, operand.value};
  });
  const auto encoded = frontend::backend_adapter::encodeResolvedRiscvInstruction(
      fragment, module_target, instruction_address, std::span(pairs).first(operands.size()));
  if (!encoded) return fail(encoded.error());
  std::vector<std::uint8_t> bytes(encoded->size);
  qovrin::writeLittleEndian(bytes, encoded->word);
  return bytes;
}

}  // namespace

qovrin::Result<AssemblyResult> assembleFlat(frontend::module::Module& module, const AssemblyObserver& observer) {
  AssemblyResult result;
  {
    const PhaseScope phase(observer, Phase::encode);
    const auto counts = frontend::pass::encodeInstructionFragments(module);
    if (!counts) return fail(counts.error());
    result.instruction_fragments = counts->instruction_fragments;
  }

  // Late-layout blocks run here, after encoding and before any fixup is
  // resolved, so that what they emit is laid out with everything else; they
  // belong to no phase.
  if (!module.lateLayoutBlocks().empty()) QOVRIN_TRY(runLateLayoutBlocks(module));

  FixupResolutions resolutions;
  {
    const PhaseScope phase(observer, Phase::fixup_resolve);
    // The first layout only places the fields; it is gone before the final one.
    const auto first = frontend::layout::layoutModule(module);
    if (!first) return fail(first.error());
    auto resolved = resolveFixups(module, *first, result.unresolved);
    if (!resolved) return fail(resolved.error());
    resolutions = std::move(*resolved);
    result.pending_fixups = result.unresolved.size();
  }

  frontend::layout::ModuleLayout layout;
  {
    const PhaseScope phase(observer, Phase::layout);
    auto final_layout = frontend::layout::layoutModule(module);
    if (!final_layout) return fail(final_layout.error());
    layout = std::move(*final_layout);
  }

  frontend::output::result::WriterResult output;
  {
    const PhaseScope phase(observer, Phase::materialize);
    auto materialized = materializeImage(module, layout);
    if (!materialized) return fail(materialized.error());
    output = std::move(*materialized);
  }

  {
    const PhaseScope phase(observer, Phase::patch);
    const RiscvReencoder riscv = reencodeRiscv;
    QOVRIN_TRY(patchFixups(module, PatchInput{resolutions, layout, output.regions, output.bytes, riscv}));
  }

  {
    // Deferred blocks run here on the patched image, through the region of
    // the module's current section; they may store bytes but not move any.
    const PhaseScope phase(observer, Phase::defer_finalizers);
    if (!module.deferredBlocks().empty()) QOVRIN_TRY(runDeferredBlocks(module, output.regions, output.bytes));
  }

  result.sections = std::move(layout.sections);
  result.image = std::move(output.bytes);
  return result;
}

}  // namespace assembly
