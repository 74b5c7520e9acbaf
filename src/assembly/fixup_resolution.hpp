#pragma once
// Fixup resolution: every fixup's target turned into a number after a first
// layout, or left unresolved (its field keeps the placeholder bytes and it
// counts as pending). A target that names nothing known yet is no error here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "assembly/fixup_resolutions.hpp"
#include "common/error.hpp"
#include "frontend/encode/layout.hpp"
#include "frontend/module/module.hpp"

namespace assembly {

// A fixup left unresolved, with the note that says why.
struct UnresolvedFixup {
  frontend::SourceLocation place;  // of its instruction line
  std::string note;
};

// One resolution per fixup, in fixup order. Fails with OutOfMemory,
// InvalidSection, InvalidFragment, OffsetOverflow or InvalidFixupTarget, and
// with FrontendDiagnostics after the error for a label that lies past the
// 64-bit address range;
// every other failure of a target leaves that fixup unresolved and appends
// it to `unresolved`, in fixup order.
qovrin::Result<FixupResolutions> resolveFixups(frontend::module::Module& module,
                                               const frontend::layout::ModuleLayout& layout,
                                               std::vector<UnresolvedFixup>& unresolved);

// A target written as a name followed by an integer literal addend in any
// spelling ("x + 4", "x - 0x8", "x + 1_6"): the name and the signed addend.
// None for any other text.
struct FoldedAddend {
  std::string_view name;
  WideValue addend = 0;
};
std::optional<FoldedAddend> splitFoldedAddend(std::string_view text) noexcept;

}  // namespace assembly
