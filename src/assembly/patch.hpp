#pragma once
// The patch phase: every resolved fixup's value written into its field of the
// materialised image, range-checked for the field width. PC-relative fields
// get the distance from the address just behind the field. RISC-V
// instructions are encoded again whole with their resolved operands instead.
// A value that does not fit becomes one located error diagnostic.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "assembly/fixup_resolution.hpp"
#include "common/error.hpp"
#include "frontend/module/fixup.hpp"
#include "frontend/encode/layout.hpp"
#include "frontend/module/module.hpp"
#include "frontend/output/image.hpp"

namespace assembly {

// target - place, which must fit a signed field of width bits (8, 16, 32 or
// 64, else InvalidFixupWidth); else RelativeFixupOutOfRange, also for a
// target outside 64 bits. Where the distance as it stands does not fit, it is
// taken modulo 2^pointer_bits, the width at which the processor wraps the
// address, when both ends are addresses of space_bits: the place may be the
// top of that space, where the next address wraps to 0. A pointer narrower
// than its space is cut to its width, so only targets below 2^pointer_bits
// are reached, and always by the wrapped distance.
qovrin::Result<std::int64_t> relativePatchValue(WideValue target, WideValue place, std::uint16_t width,
                                                std::uint16_t pointer_bits, std::uint16_t space_bits);

inline qovrin::Result<std::int64_t> relativePatchValue(WideValue target, WideValue place, std::uint16_t width,
                                                       std::uint16_t pointer_bits) {
  return relativePatchValue(target, place, width, pointer_bits, pointer_bits);
}

// The field's bits for value under the policy: wrap takes a value that fits
// unsigned or signed, the others only their own (WrapFixupOutOfRange,
// SignedFixupOutOfRange, UnsignedFixupOutOfRange). A negative value is its
// 64-bit two's-complement pattern; one outside 64 bits fits no policy.
qovrin::Result<std::uint64_t> absolutePatchValue(WideValue value, std::uint16_t width,
                                                 frontend::fixup::FixupRangePolicy policy);

// One operand of a RISC-V instruction to encode again: the fixup's text and
// its resolved value.
struct ResolvedOperand {
  std::string_view text;
  WideValue value = 0;
};

// Encodes a RISC-V instruction fragment again at its address with its
// operands resolved; the back-end adapter supplies it with the RISC-V road of
// the encode pass, which is where RISC-V fixups come from.
using RiscvReencoder = std::function<qovrin::Result<std::vector<std::uint8_t>>(
    const frontend::fragment::Fragment& fragment, frontend::target::Target module_target,
    std::uint64_t instruction_address, std::span<const ResolvedOperand> operands)>;

struct PatchInput {
  const FixupResolutions& resolutions;
  const frontend::layout::ModuleLayout& layout;
  std::span<const frontend::output::image::ImageRegion> regions;
  std::span<std::uint8_t> image;
  const RiscvReencoder& riscv;
};

// Fails with FrontendDiagnostics after adding the diagnostic for a field that
// does not fit, lies outside the image or has an unsupported width, or for a
// RISC-V instruction that its resolved values do not fit; with
// InvalidFixupTarget, InvalidFragment, InvalidSection, OffsetOverflow or the
// re-encoder's other errors without one. Fields patched before a failure stay.
qovrin::Status patchFixups(frontend::module::Module& module, const PatchInput& input);

// The diagnostic text for a patch failure of a fixup with this target and
// field width whose target resolved to value; none for failures that carry
// no diagnostic.
std::optional<std::string> patchFailureMessage(qovrin::Error error, const frontend::fixup::FixupTarget& target,
                                               std::uint16_t width, WideValue value);

}  // namespace assembly
