// The environment a macro operand is captured in.

#include <algorithm>

#include "frontend/lower/context.hpp"

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

// Every value symbol of the module, as copies in the bindings.
qovrin::Status bindModuleValues(value::MapValue& bindings, const module::Module& module, std::uint64_t& deepest) {
  const symbol::SymbolStore& symbols = module.symbols();
  for (std::uint32_t position = 0; position < symbols.size(); ++position)
    if (const symbol::ValueSymbol* named = symbols[position].value())
      QOVRIN_TRY(bindCopy(bindings, module.symbolName(symbols[position]), named->value, deepest));
  return {};
}

}  // namespace

qovrin::Result<std::shared_ptr<value::OperandEnvironment>> captureOperandEnvironment(LowerContext& context,
                                                                                      module::Module& module) {
  auto environment = std::make_shared<value::OperandEnvironment>();
  std::uint64_t deepest = 0;
  if (context.paths.copies_every_value) {
    QOVRIN_TRY(bindModuleValues(environment->bindings, module, deepest));
  } else {
    environment->module_values = module.snapshotValues();
    deepest = module.deepestValueCapture();
  }
  for (const MetaScope& scope : context.scopes)
    for (const MetaLocal& local : scope.locals())
      QOVRIN_TRY(bindCopy(environment->bindings, local.name, local.value, deepest));
  if (deepest >= macro::kMaxCaptureDepth) return fail(Error::MacroCaptureDepthExceeded);
  environment->capture_depth = deepest + 1;
  return environment;
}

const value::Value* environmentBinding(const module::Module& module, const value::OperandEnvironment& environment,
                                       std::string_view name) noexcept {
  if (const value::Value* bound = environment.bindings.find(name)) return bound;
  return environment.module_values ? module.valueAt(name, *environment.module_values) : nullptr;
}

}  // namespace frontend::lower::context
