#pragma once

#include <cstdint>
#include <string>
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

// The instruction words after the header, or the error. Operand tests name
// ids that none of their lines defines: each such id gets a line of its own
// after the text, whose words are left out again.
inline std::variant<std::vector<std::uint32_t>, qovrin::Error> instructions(std::string_view text) {
  constexpr std::size_t kDefinitionWords = 2;
  std::string whole(text);
  std::size_t defined = 0;
  while (true) {
    const std::string_view view = whole;
    auto words = spirv_encoder::module::assembleLines(std::span(&view, 1), 0x00010600);
    if (words) {
      words->erase(words->begin(), words->begin() + spirv_encoder::module::kHeaderWords);
      words->resize(words->size() - kDefinitionWords * defined);
      return std::move(*words);
    }
    if (words.error().cause != qovrin::Error::UndefinedSymbol) return words.error().cause;
    whole += "\n%" + std::to_string(*words.error().id) + " = OpTypeBool";
    ++defined;
  }
}

using Words = std::vector<std::uint32_t>;
using Outcome = std::variant<Words, qovrin::Error>;

}  // namespace spirv_test
