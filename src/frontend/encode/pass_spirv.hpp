#pragma once
// The SPIR-V road of the encode pass: every SPIR-V instruction fragment of
// an output forms one module, which the encoder assembles from their texts
// and the first of them stores.

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/module/fragment.hpp"
#include "frontend/syntax/source_location.hpp"
#include "spirv_encoder/module.hpp"

namespace frontend::pass {

inline constexpr std::string_view kSpirvMixedOutputMessage =
    "SPIR-V module instructions cannot be mixed with other ISA, data, reserve, or alignment fragments";
inline constexpr std::string_view kSpirvDisagreementMessage =
    "all SPIR-V instructions in one output must use the same section and module version";

// A module that failed: the encoder's failure with `at` naming the fragment
// at fault, and where its message belongs. A line the encoder refused is
// reported at the module's first line; an id defined twice or never, and a
// fragment check, at the fragment at fault.
struct SpirvFailure {
  spirv_encoder::module::ModuleFailure failure;
  SourceLocation location;
};

struct SpirvModule {
  std::vector<std::uint32_t> words;
  std::vector<std::uint32_t> spirv_fragments;  // indexes, in order; the first receives the module
};

bool isSpirvInstruction(const fragment::Fragment& piece) noexcept;

// The module of all SPIR-V instruction fragments, after checking that they
// agree on section and version and that nothing else emits into the output.
// A list without SPIR-V instruction fragments gives an empty module.
std::expected<SpirvModule, SpirvFailure> assembleSpirvFragments(std::span<const fragment::Fragment> fragments);

// Stores the module bytes into the first SPIR-V fragment and empties the
// others, all of them left without pending operands; returns how many
// fragments changed. InvalidFragment when an index names no instruction.
qovrin::Result<std::uint32_t> storeSpirvModule(std::span<fragment::Fragment> fragments,
                                               std::span<const std::uint32_t> spirv_fragments,
                                               std::span<const std::uint8_t> bytes);

}  // namespace frontend::pass
