#include "frontend/lower/output_target.hpp"

#include "frontend/lower/arguments.hpp"
#include "frontend/lower/expression_bridge.hpp"

namespace frontend::lower::output_target {

using qovrin::Error;
using qovrin::fail;

namespace {

// A name lowering binds first hides a module label of the same name.
const symbol::Label* labelNamed(const module::Module& module, context::LowerContext& context,
                                std::string_view name) noexcept {
  if (context::lookupLocal(context, name) != nullptr) return nullptr;
  const symbol::Symbol* symbol = module.findSymbol(name);
  return symbol == nullptr ? nullptr : symbol->label();
}

}  // namespace

qovrin::Result<std::optional<std::uint32_t>> labelSection(const module::Module& module, context::LowerContext& context,
                                                          const expr::Node& node) {
  using expr::NodeKind;
  using Found = qovrin::Result<std::optional<std::uint32_t>>;
  // Built in place: g++ 12 at -O3 misreads a moved-in optional as uninitialised.
  const auto found = [](const symbol::Label* label) {
    return label == nullptr ? Found(std::in_place) : Found(std::in_place, label->section);
  };
  switch (node.kind()) {
    case NodeKind::identifier:
      return found(labelNamed(module, context, node.text()));
    case NodeKind::field_access:
    case NodeKind::unary:
      return labelSection(module, context, node.left());
    case NodeKind::binary: {
      const expr::LeftChain chain(node);
      auto left = labelSection(module, context, chain.first());
      for (std::size_t index = 0; index < chain.size() && left; ++index) {
        const auto right = labelSection(module, context, chain.link(index).right());
        if (!right) return right;
        if (*left && *right && **left != **right) return fail(Error::InvalidApiArgument);
        if (!*left) left = right;
      }
      return left;
    }
    default:
      return found(nullptr);
  }
}

}  // namespace frontend::lower::output_target

namespace frontend::lower::root {

using qovrin::Error;
using qovrin::fail;

namespace {

// Addresses from here on are compared and offset as signed quantities by
// layout and the image; a target in the upper half cannot name emitted bytes.
constexpr std::uint64_t kFirstUnaddressable = std::uint64_t{1} << 63;

qovrin::Result<StoreTarget> labelTarget(const module::Module& module, const symbol::Label& label) {
  if (!module.sections().contains(label.section)) return fail(Error::InvalidSection);
  std::uint64_t address = 0;
  if (__builtin_add_overflow(module.sections()[label.section].base, label.offset, &address))
    return fail(Error::OffsetOverflow);
  return StoreTarget{address, label.section};
}

qovrin::Result<StoreTarget> storeTarget(module::Module& module, context::LowerContext& context,
                                        const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                        std::size_t index) {
  const expr::Node& node = *call.arguments[index].expression();
  if (node.kind() == expr::NodeKind::identifier && context::lookupLocal(context, node.text()) == nullptr)
    if (const symbol::Symbol* symbol = module.findSymbol(node.text()))
      if (const symbol::Label* label = symbol->label()) return labelTarget(module, *label);
  const auto section = output_target::labelSection(module, context, node);
  if (!section) return fail(section.error());
  const auto address = evalValueAtContext(module, context, cursor, node);
  if (!address) return fail(address.error());
  if (address->asInteger() == nullptr) {
    context.refused = context::RefusedValue{call.location, index, address->kind()};
    return fail(expression_bridge::mapExpressionError(Error::TypeMismatch));
  }
  return StoreTarget{address->asInteger()->word, section->value_or(cursor.section)};
}

}  // namespace

qovrin::Result<StoreTarget> outputStoreTargetAtContext(module::Module& module, context::LowerContext& context,
                                                       const contracts::ActiveOutput& cursor,
                                                       const ast::ApiCallStatement& call, std::size_t index) {
  const auto expression = expressionArg(call, index);
  if (!expression) return fail(expression.error());
  const auto target = storeTarget(module, context, cursor, call, index);
  if (!target) return target;
  if (target->address >= kFirstUnaddressable) return fail(Error::InvalidApiArgument);
  return target;
}

}  // namespace frontend::lower::root
