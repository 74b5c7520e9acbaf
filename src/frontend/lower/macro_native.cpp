// Captured operand pieces written back into instruction text.

#include <string>

#include "common/quoted_text.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/instruction_words.hpp"
#include "frontend/lower/macro.hpp"

namespace frontend::macro {

using qovrin::Error;
using qovrin::fail;

namespace {

// Every word of a piece is tested as if it stood after a mnemonic, so the
// piece's first word is never taken for one.
constexpr std::string_view kMnemonicStandIn = "instruction ";

}  // namespace

qovrin::Status appendNativePieces(std::string& out, const module::Module& module, target::Target target,
                                  std::string_view mnemonic, std::span<const value::OperandPiece> pieces) {
  std::string text;
  for (const value::OperandPiece& piece : pieces) {
    text.assign(kMnemonicStandIn);
    text += piece.text;
    std::size_t position = kMnemonicStandIn.size();
    while (position < text.size()) {
      const char c = text[position];
      if (qovrin::quoted_text::opener(target.strings(), text, position) != 0) {
        const auto end = qovrin::quoted_text::stringEnd(target.strings(), text, position);
        if (!end) return fail(Error::InvalidExpression);
        out.append(text, position, *end - position);
        position = *end;
        continue;
      }
      if (!lower::instruction_words::startsIdentifier(c)) {
        out += c;
        ++position;
        continue;
      }
      std::size_t end = position + 1;
      while (end < text.size() && lower::instruction_words::continuesIdentifier(text[end])) ++end;
      const std::string_view name = std::string_view(text).substr(position, end - position);
      const value::Value* bound = lower::instruction_words::shouldKeepIsaIdentifier(target, mnemonic, text, position, name)
                                      ? nullptr
                                      : lower::context::environmentBinding(module, *piece.environment, name);
      const auto* integer = bound == nullptr ? nullptr : bound->asInteger();
      if (integer != nullptr)
        out += std::to_string(integer->word);
      else
        out += name;
      position = end;
    }
  }
  return {};
}

}  // namespace frontend::macro
