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

}  // namespace

qovrin::Result<std::shared_ptr<value::OperandEnvironment>> captureOperandEnvironment(LowerContext& context,
                                                                                      const module::Module& module) {
  auto environment = std::make_shared<value::OperandEnvironment>();
  std::uint64_t deepest = 0;
  for (const symbol::Symbol& symbol : module.symbols())
    if (const symbol::ValueSymbol* named = symbol.value())
      QOVRIN_TRY(bindCopy(environment->bindings, symbol.name(), named->value, deepest));
  for (const MetaScope& scope : context.scopes)
    for (const MetaLocal& local : scope.locals())
      QOVRIN_TRY(bindCopy(environment->bindings, local.name, local.value, deepest));
  if (deepest >= macro::kMaxCaptureDepth) return fail(Error::MacroCaptureDepthExceeded);
  environment->capture_depth = deepest + 1;
  return environment;
}

}  // namespace frontend::lower::context
