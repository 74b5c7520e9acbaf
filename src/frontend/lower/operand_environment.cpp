// The environment a macro operand is captured in.

#include <algorithm>
#include <vector>

#include "frontend/lower/context.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"

namespace frontend::lower::context {

using qovrin::Error;
using qovrin::fail;

namespace {

qovrin::Status bindCopy(value::MapValue& bindings, std::string_view name, const value::Value& value,
                        std::uint64_t& deepest) {
  deepest = std::max(deepest, value.operandCaptureDepth());
  const auto stored = bindings.setCloned(name, value);
  if (!stored && stored.error() == Error::CollectionTooLarge) return fail(Error::InvalidApiArgument);
  return stored;
}

bool separatesNameParts(char c) noexcept { return c == '.' || c == '$'; }

// Calls visit(name, called) on every name the text could make anyone look
// up: a word of name characters is read whole by some readers (bare builtin
// arguments, instruction text) and in parts by others (a field after a dot),
// so every run of its parts between separators counts. called is set for a
// whole word that a "(" follows, as a call names its function.
template <typename Visit>
void forEachNameIn(std::string_view text, Visit&& visit) {
  std::size_t position = 0;
  while (position < text.size()) {
    if (!identifier::isNameStart(text[position])) {
      ++position;
      continue;
    }
    std::size_t end = position + 1;
    while (end < text.size() && identifier::isNameChar(text[end])) ++end;
    const std::string_view word = text.substr(position, end - position);
    const std::size_t next = text.find_first_not_of(" \t", end);
    const bool called = next != std::string_view::npos && text[next] == '(';
    for (std::size_t first = 0; first < word.size(); ++first) {
      if (first != 0 && !separatesNameParts(word[first - 1])) continue;
      for (std::size_t last = first + 1; last <= word.size(); ++last)
        if (last == word.size() || separatesNameParts(word[last]))
          visit(word.substr(first, last - first), called && first == 0 && last == word.size());
    }
    position = end;
  }
}

// The module's value symbols the environment holds, in symbol order: those
// a name in the text reads, or all of them when the text calls anything but
// a builtin. Such a call may reach a value function, defined now or later,
// whose body reads the environment's bindings as locals.
std::vector<std::uint32_t> capturedValues(const module::Module& module, std::string_view text) {
  const symbol::SymbolStore& symbols = module.symbols();
  std::vector<std::uint32_t> named;
  bool calls_function = false;
  forEachNameIn(text, [&](std::string_view name, bool called) {
    if (called && !expr::isBuiltinName(name)) calls_function = true;
    const auto position = module.findSymbolIndex(name);
    if (position && symbols[*position].value() != nullptr) named.push_back(*position);
  });
  if (calls_function) {
    named.clear();
    for (std::uint32_t position = 0; position < symbols.size(); ++position)
      if (symbols[position].value() != nullptr) named.push_back(position);
    return named;
  }
  std::ranges::sort(named);
  named.erase(std::ranges::unique(named).begin(), named.end());
  return named;
}

}  // namespace

qovrin::Result<std::shared_ptr<value::OperandEnvironment>> captureOperandEnvironment(LowerContext& context,
                                                                                      const module::Module& module,
                                                                                      std::string_view written) {
  auto environment = std::make_shared<value::OperandEnvironment>();
  std::uint64_t deepest = 0;
  for (const std::uint32_t position : capturedValues(module, written)) {
    const symbol::Symbol& symbol = module.symbols()[position];
    QOVRIN_TRY(bindCopy(environment->bindings, module.symbolName(symbol), symbol.value()->value, deepest));
  }
  for (const MetaScope& scope : context.scopes)
    for (const MetaLocal& local : scope.locals())
      QOVRIN_TRY(bindCopy(environment->bindings, local.name, local.value, deepest));
  if (deepest >= macro::kMaxCaptureDepth) return fail(Error::MacroCaptureDepthExceeded);
  environment->capture_depth = deepest + 1;
  return environment;
}

}  // namespace frontend::lower::context
