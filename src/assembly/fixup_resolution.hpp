#pragma once
// Fixup resolution: every fixup's target turned into a number after a first
// layout, or left unresolved (its field keeps the placeholder bytes and it
// counts as pending). A target that names nothing known yet is no error here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/encode/layout.hpp"
#include "frontend/module/module.hpp"

namespace assembly {

// A symbol's 64-bit address plus a signed addend: wide enough for every sum,
// so a target below 0 or above 2^64 - 1 is reported by the range checks
// instead of wrapping or turning the fixup unresolved.
using WideValue = __int128;

// The resolution at a position belongs to the fixup of that index. A module
// holds one per fixup until its image is patched, so the wide target is kept
// in two unaligned halves: 17 bytes instead of the 32 of an optional.
class [[gnu::packed]] FixupResolution {
 public:
  FixupResolution() = default;
  FixupResolution(std::optional<WideValue> target) noexcept  // NOLINT: a resolution is its target
      : low_(target ? static_cast<std::uint64_t>(*target) : 0),
        high_(target ? static_cast<std::uint64_t>(static_cast<unsigned __int128>(*target) >> 64) : 0),
        resolved_(target.has_value()) {}

  // None: unresolved, or dropped (then neither patched nor pending).
  std::optional<WideValue> target() const noexcept {
    if (!resolved_) return std::nullopt;
    return static_cast<WideValue>((static_cast<unsigned __int128>(high_) << 64) | low_);
  }

 private:
  std::uint64_t low_ = 0;
  std::uint64_t high_ = 0;
  bool resolved_ = false;
};

static_assert(sizeof(FixupResolution) == 17);

// A fixup left unresolved, with the note that says why.
struct UnresolvedFixup {
  frontend::SourceLocation place;  // of its instruction line
  std::string note;
};

// One resolution per fixup, in fixup order. Fails with OutOfMemory,
// InvalidSection, InvalidFragment, OffsetOverflow or InvalidFixupTarget;
// every other failure of a target leaves that fixup unresolved and appends
// it to `unresolved`, in fixup order.
qovrin::Result<std::vector<FixupResolution>> resolveFixups(frontend::module::Module& module,
                                                           const frontend::layout::ModuleLayout& layout,
                                                           std::vector<UnresolvedFixup>& unresolved);

// A target written as a name followed by a decimal addend ("x + 4", "x - 8"):
// the name and the signed addend. None for any other text.
struct FoldedAddend {
  std::string_view name;
  WideValue addend = 0;
};
std::optional<FoldedAddend> splitFoldedAddend(std::string_view text) noexcept;

}  // namespace assembly
