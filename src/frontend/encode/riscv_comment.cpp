#include "frontend/encode/riscv_comment.hpp"

#include <algorithm>

#include "common/ascii.hpp"
#include "riscv_encoder/source.hpp"

namespace frontend::riscv_comment {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

bool isCommentMark(char c) noexcept { return c == ';' || c == '#'; }

// Every name stands for a label not yet placed, as on a first encoding.
qovrin::Result<riscv_encoder::RiscvResolvedExpression> anyName(void*, std::string_view text) {
  if (qovrin::trim(text, kBlanks).empty()) return riscv_encoder::RiscvResolvedExpression{};
  return riscv_encoder::RiscvResolvedExpression{0, true};
}

}  // namespace

std::vector<std::string_view> commentedInstructions(std::string_view text, unsigned xlen) {
  std::vector<std::string_view> found;
  auto mark = std::ranges::find_if(text, isCommentMark);
  const riscv_encoder::RiscvExpressionHook hook{nullptr, &anyName, true};
  while (mark != text.end()) {
    const auto next = std::find_if(mark + 1, text.end(), isCommentMark);
    const std::string_view piece = qovrin::trim({mark + 1, next}, kBlanks);
    if (!piece.empty() && riscv_encoder::source::encodeInstructionText(piece, xlen, hook)) found.push_back(piece);
    mark = next;
  }
  return found;
}

std::string_view commentWarning(std::string_view text) noexcept {
  const auto mark = std::ranges::find_if(text, isCommentMark);
  if (mark != text.end() && *mark == '#') return "an instruction after '#' is a comment and is not assembled";
  return "an instruction after ';' is a comment and is not assembled";
}

}  // namespace frontend::riscv_comment
