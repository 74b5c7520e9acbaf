#pragma once

#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "common/error.hpp"
#include "spirv_encoder/module.hpp"

namespace spirv_test {

// The module words of one SPIR-V text at version 1.6, or the error that
// failed it.
inline std::variant<std::vector<std::uint32_t>, qovrin::Error> assemble(std::string_view text) {
  auto words = spirv_encoder::module::assembleLines(std::span(&text, 1), 0x00010600);
  if (!words) return words.error().cause;
  return std::move(*words);
}

// The instruction words after the header, or the error.
inline std::variant<std::vector<std::uint32_t>, qovrin::Error> instructions(std::string_view text) {
  auto result = assemble(text);
  if (auto* words = std::get_if<std::vector<std::uint32_t>>(&result))
    words->erase(words->begin(), words->begin() + spirv_encoder::module::kHeaderWords);
  return result;
}

using Words = std::vector<std::uint32_t>;
using Outcome = std::variant<Words, qovrin::Error>;

}  // namespace spirv_test
