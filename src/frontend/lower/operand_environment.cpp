// The environment a macro operand is captured in.

#include <algorithm>
#include <vector>

#include "frontend/lower/binding_reach.hpp"
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

// The module's value symbols the environment holds, in symbol order: those
// a name in the text reads, and those that a value function the text calls
// names in its body or in the bodies of the functions it calls, since they
// read the environment's bindings as locals; all of them when the text calls
// anything else, or a function not defined yet or that runs code written
// elsewhere.
std::vector<std::uint32_t> capturedValues(LowerContext& context, const module::Module& module,
                                          std::string_view text) {
  const symbol::SymbolStore& symbols = module.symbols();
  std::vector<std::uint32_t> named;
  const auto add = [&](std::string_view name) {
    const auto position = module.findSymbolIndex(name);
    if (position && symbols[*position].value() != nullptr) named.push_back(*position);
  };
  bool reaches_all = false;
  identifier::forEachNameIn(text, [&](std::string_view name, bool called) {
    add(name);
    if (!called || reaches_all || expr::isBuiltinName(name)) return;
    if (!module.metaFunctions().find(name)) {
      reaches_all = true;
      return;
    }
    const binding_reach::Reach& reach = binding_reach::functionReach(context, module.metaFunctions(), binding_reach::Callee::value_function, name);
    reaches_all = reach.anything;
    if (reaches_all) return;
    // A long body names more than a small module holds: then each symbol is
    // looked for among the names, so that an expansion pays for the shorter.
    if (reach.names.size() <= symbols.size()) {
      for (const std::string_view named_there : reach.names) add(named_there);
      return;
    }
    for (std::uint32_t position = 0; position < symbols.size(); ++position)
      if (symbols[position].value() != nullptr && binding_reach::mayName(reach, module.symbolName(symbols[position])))
        named.push_back(position);
  });
  if (reaches_all) {
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
  for (const std::uint32_t position : capturedValues(context, module, written)) {
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
