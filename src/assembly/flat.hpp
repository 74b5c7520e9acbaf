#pragma once
// The one entry point of assembly: a lowered module becomes the flat output
// image. The phases run once each, in order, with no iteration: encode, late
// layout, fixup resolution, layout, materialisation, patching and the
// deferred finalizers. Fixups whose targets stay unknown are no error here:
// their fields keep the placeholder bytes and they are counted, and the
// caller decides what to do about them.

#include <cstdint>
#include <vector>

#include "assembly/fixup_resolution.hpp"
#include "assembly/observer.hpp"
#include "common/error.hpp"
#include "frontend/encode/layout.hpp"
#include "frontend/module/module.hpp"

namespace assembly {

// What a successful run hands to the caller, who owns all of it.
struct AssemblyResult {
  std::vector<frontend::layout::SectionLayout> sections;  // the final layout, in section order
  std::vector<std::uint8_t> image;                        // the output bytes, patched
  std::uint64_t instruction_fragments = 0;                // encoded by the encode phase
  std::uint64_t pending_fixups = 0;                       // left unresolved
  std::vector<UnresolvedFixup> unresolved;                // the pending fixups, why each is
};

// The module is changed in place (encoded bytes, fixups, diagnostics), also
// when the run fails; a failure returns only the error. Problems the user
// must see are added as diagnostics and fail with FrontendDiagnostics.
qovrin::Result<AssemblyResult> assembleFlat(frontend::module::Module& module, const AssemblyObserver& observer);

}  // namespace assembly
