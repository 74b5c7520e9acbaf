#include "frontend/lower/isa_lowering.hpp"

#include "common/ascii.hpp"
#include "frontend/expr.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/isa_text.hpp"

namespace frontend::lower::isa_lowering {

using qovrin::Error;
using qovrin::fail;

namespace {

// Every builtin call replaced by the decimal text of its integer.
qovrin::Result<std::string> substituteBuiltinCalls(module::Module& module, context::LowerContext& context,
                                                   const contracts::ActiveOutput& cursor, std::string_view text) {
  std::string lowered;
  lowered.reserve(text.size());
  std::size_t position = 0;
  while (const auto call = isa_text::findBuiltinCall(text, position)) {
    lowered.append(text.substr(position, call->start - position));
    const auto tree = expr::parseOwned(text.substr(call->start, call->end - call->start));
    if (!tree) return fail(expression_bridge::mapExpressionError(tree.error()));
    const auto value = root::evalIntegerAtContext(module, context, cursor, *tree);
    if (!value) return fail(value.error());
    lowered += std::to_string(*value);
    position = call->end;
  }
  lowered.append(text.substr(position));
  return lowered;
}

// The integer a name stands for: an integer local, else a module value that
// holds an integer. A local of another kind hides a module value of the name.
std::optional<std::uint64_t> integerNamed(const module::Module& module, context::LowerContext& context,
                                          std::string_view name) {
  if (const value::Value* local = context::lookupLocalValue(context, name)) {
    if (const auto* integer = local->asInteger()) return integer->word;
    return std::nullopt;
  }
  const symbol::Symbol* symbol = module.findSymbol(name);
  const symbol::ValueSymbol* named = symbol == nullptr ? nullptr : symbol->value();
  if (named == nullptr) return std::nullopt;
  if (const auto* integer = named->value.asInteger()) return integer->word;
  return std::nullopt;
}

qovrin::Result<std::string> substituteNames(const module::Module& module, context::LowerContext& context,
                                            target::Target target, std::string_view text) {
  std::string lowered;
  lowered.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const char c = text[position];
    std::size_t end = position + 1;
    if (c == '\'' || c == '"') {
      const auto closed = isa_text::quotedEnd(text, position);
      if (!closed) return fail(Error::InvalidExpression);
      end = *closed;
    } else if (qovrin::isAsciiDigit(c)) {
      end = isa_text::wordEnd(text, position);
    } else if (isa_text::startsIdentifier(c)) {
      end = isa_text::wordEnd(text, position);
      const std::string_view name = text.substr(position, end - position);
      if (!isa_text::shouldKeepIsaIdentifier(target, text, position, name)) {
        if (const auto value = integerNamed(module, context, name)) {
          lowered += std::to_string(*value);
          position = end;
          continue;
        }
      }
    }
    lowered.append(text.substr(position, end - position));
    position = end;
  }
  return lowered;
}

}  // namespace

qovrin::Result<std::string> lowerText(module::Module& module, context::LowerContext& context,
                                      const contracts::ActiveOutput& cursor, std::string_view text) {
  const auto with_values = substituteBuiltinCalls(module, context, cursor, text);
  if (!with_values) return with_values;
  return substituteNames(module, context, cursor.target, *with_values);
}

}  // namespace frontend::lower::isa_lowering
