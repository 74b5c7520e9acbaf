#pragma once
// One SPIR-V module from all SPIR-V instruction lines of an output: the lines
// are read in order against the grammar, and the header's id bound comes
// from every id the lines use. The encode pass stores the result as the bytes
// of the first SPIR-V fragment and turns a failure into its diagnostic.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/module/fragment.hpp"
#include "frontend/syntax/source_location.hpp"

namespace spirv_encoder::module {

inline constexpr std::uint32_t kMagic = 0x07230203;
inline constexpr std::size_t kHeaderWords = 5;

inline constexpr std::string_view kMixedOutputMessage =
    "SPIR-V module instructions cannot be mixed with other ISA, data, reserve, or alignment fragments";
inline constexpr std::string_view kDisagreementMessage =
    "all SPIR-V instructions in one output must use the same section and module version";
inline constexpr std::string_view kVersionMessage = "unsupported SPIR-V module version";
inline constexpr std::string_view kSyntaxMessage = "unsupported SPIR-V instruction or operand syntax";

// The text of one SPIR-V instruction fragment; it may hold several lines.
struct SpirvLine {
  std::string_view text;
  frontend::SourceLocation location;
};

struct ModuleFailure {
  // What the encode pass returns: FrontendDiagnostics when `message` is to be
  // reported, otherwise the error itself (nothing to report).
  qovrin::Error error = qovrin::Error::FrontendDiagnostics;
  qovrin::Error cause = qovrin::Error::FrontendDiagnostics;  // the failure behind the message
  std::string_view message;                                  // empty when nothing is reported
  frontend::SourceLocation location;                         // where the diagnostic belongs
  std::size_t at = 0;  // the SpirvLine (or fragment, for the fragment checks) at fault
  std::string_view line;  // the instruction that failed, when one line did
};

template <typename T>
using ModuleResult = std::expected<T, ModuleFailure>;

// Whether the version word names SPIR-V 1.0 to 1.6.
constexpr bool isSupportedVersion(std::uint32_t version) noexcept {
  return (version & 0xFFFF00FFu) == 0x00010000u && ((version >> 8) & 0xFFu) <= 6;
}

// Header and instructions of the module the lines spell, in line order. A
// failing line fails the whole module, reported at the first line.
ModuleResult<std::vector<std::uint32_t>> assembleLines(std::span<const SpirvLine> lines, std::uint32_t version);

struct AssembledModule {
  std::vector<std::uint32_t> words;
  std::vector<std::uint32_t> spirv_fragments;  // indexes, in order; the first receives the module
};

// The module of all SPIR-V instruction fragments, after checking that they
// agree on section and version and that nothing else emits into the output.
// A list without SPIR-V instruction fragments gives an empty module.
ModuleResult<AssembledModule> assembleFragments(std::span<const frontend::fragment::Fragment> fragments);

// Stores the module bytes into the first SPIR-V fragment and empties the
// others, all of them left without pending operands; returns how many
// fragments changed. InvalidFragment when an index names no instruction.
qovrin::Result<std::uint32_t> storeModule(std::span<frontend::fragment::Fragment> fragments,
                                          std::span<const std::uint32_t> spirv_fragments,
                                          std::span<const std::uint8_t> bytes);

// The words as little-endian bytes; InstructionTooLarge from 2^32 bytes on.
qovrin::Result<std::vector<std::uint8_t>> moduleBytes(std::span<const std::uint32_t> words);

}  // namespace spirv_encoder::module
