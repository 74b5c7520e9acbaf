#pragma once
// One SPIR-V module from all SPIR-V instruction lines of an output: the lines
// are read in order against the grammar, and the header's id bound comes
// from every id the lines use. The lines are plain text, so the front end
// gathers them from its fragments and places a failure at its own location.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/error.hpp"

namespace spirv_encoder::module {

inline constexpr std::uint32_t kMagic = 0x07230203;
inline constexpr std::size_t kHeaderWords = 5;

inline constexpr std::string_view kVersionMessage = "unsupported SPIR-V module version";
inline constexpr std::string_view kSyntaxMessage = "unsupported SPIR-V instruction or operand syntax";

// Why a module failed: the message to report, the failure behind it, the
// text at fault (an index into the texts given) and, when one line failed,
// that line alone. An id defined twice or used but defined nowhere is named,
// and a second definition names the text of the first.
struct ModuleFailure {
  qovrin::Error cause = qovrin::Error::FrontendDiagnostics;
  std::string_view message;
  std::size_t at = 0;
  std::string_view line;
  std::optional<std::uint32_t> id;
  std::optional<std::size_t> first_definition;
};

template <typename T>
using ModuleResult = std::expected<T, ModuleFailure>;

// Whether the version word names SPIR-V 1.0 to 1.6.
constexpr bool isSupportedVersion(std::uint32_t version) noexcept {
  return (version & 0xFFFF00FFu) == 0x00010000u && ((version >> 8) & 0xFFu) <= 6;
}

// Header and instructions of the module the texts spell, in order; one text
// (one fragment's) may hold several lines. A failing line fails the whole
// module, and so does an id that some line uses and none defines.
ModuleResult<std::vector<std::uint32_t>> assembleLines(std::span<const std::string_view> texts, std::uint32_t version);

// The words as little-endian bytes; InstructionTooLarge from 2^32 bytes on.
qovrin::Result<std::vector<std::uint8_t>> moduleBytes(std::span<const std::uint32_t> words);

}  // namespace spirv_encoder::module
