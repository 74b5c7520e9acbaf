// Positions in the output and the builtins that read there: output loads and
// the facts of the image region holding a position.

#include <algorithm>

#include "frontend/evaluate/expr_builtin.hpp"

namespace frontend::expr {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

bool isBlocked(const EvaluationContext& context, std::string_view name) noexcept {
  return std::ranges::find(context.blocked_names, name) != context.blocked_names.end();
}

// A copy of the caller's local of that name, if there is one.
qovrin::Result<std::optional<Value>> findLocal(const EvaluationContext& context, std::string_view name) {
  if (context.hooks == nullptr || !context.hooks->resolve_local) return std::optional<Value>();
  return context.hooks->resolve_local(name);
}

// An address whose section is only assumed: the current one.
qovrin::Result<OutputPosition> inCurrentSection(const EvaluationContext& context, std::uint64_t address) {
  if (!context.current_section) return fail(Error::MissingEvaluationContext);
  return OutputPosition{address, *context.current_section, false};
}

// A bare name: an integer local or module value is an address in the current
// section; a label is an address in its own section.
qovrin::Result<OutputPosition> identifierLoadTarget(const EvaluationContext& context, std::string_view name) {
  if (isBlocked(context, name)) return fail(Error::UndefinedSymbol);
  const auto local = findLocal(context, name);
  if (!local) return fail(local.error());
  if (*local) {
    const auto* integer = (*local)->asInteger();
    if (integer == nullptr) return fail(Error::TypeMismatch);
    return inCurrentSection(context, integer->word);
  }
  const symbol::Symbol* symbol = context.module.findSymbol(name);
  if (symbol == nullptr) return fail(Error::UndefinedSymbol);
  if (const symbol::Label* label = symbol->label()) {
    const auto address = context.module.labelAddress(*label);
    if (!address) return fail(address.error());
    return OutputPosition{*address, label->section, true};
  }
  const auto* integer = symbol->value()->value.asInteger();
  if (integer == nullptr) return fail(Error::TypeMismatch);
  return inCurrentSection(context, integer->word);
}

// The section of the first label the expression names, searching operator
// operands left to right and passing over names that are locals.
qovrin::Result<std::optional<std::uint32_t>> outputLoadLabelSection(const EvaluationContext& context,
                                                                    const Node& node) {
  using Found = std::optional<std::uint32_t>;
  // Built in place: g++ 12 at -O3 misreads a moved-in empty optional as
  // uninitialised.
  const auto none = [] { return qovrin::Result<Found>(std::in_place); };
  switch (node.kind()) {
    case NodeKind::identifier: {
      const auto local = findLocal(context, node.text());
      if (!local) return fail(local.error());
      if (*local) return none();
      const symbol::Symbol* symbol = context.module.findSymbol(node.text());
      if (symbol != nullptr && symbol->label() != nullptr) return Found(symbol->label()->section);
      return none();
    }
    case NodeKind::unary:
      return outputLoadLabelSection(context, node.left());
    case NodeKind::binary: {
      const LeftChain chain(node);
      auto found = outputLoadLabelSection(context, chain.first());
      for (std::size_t index = 0; index < chain.size() && found && !*found; ++index)
        found = outputLoadLabelSection(context, chain.link(index).right());
      return found;
    }
    default:
      return none();
  }
}

}  // namespace

qovrin::Result<OutputPosition> resolveOutputExpressionTarget(const EvaluationContext& context, const Node& node) {
  if (node.kind() == NodeKind::identifier) return identifierLoadTarget(context, node.text());
  const auto section = outputLoadLabelSection(context, node);
  if (!section) return fail(section.error());
  if (!*section && !context.current_section) return fail(Error::MissingEvaluationContext);
  const auto address = evaluateInteger(node, context);
  if (!address) return fail(address.error());
  if (*section) return OutputPosition{*address, **section, true};
  return OutputPosition{*address, *context.current_section, false};
}

qovrin::Result<OutputPosition> outputLoadTarget(const EvaluationContext& context, const BuiltinArgument& argument) {
  switch (argument.kind()) {
    case BuiltinArgument::Kind::bare_name:
      return identifierLoadTarget(context, argument.text());
    case BuiltinArgument::Kind::expression:
      return resolveOutputExpressionTarget(context, argument.node());
    case BuiltinArgument::Kind::raw_text:
      break;
  }
  return fail(Error::InvalidArgument);
}

qovrin::Result<Value> evalRegionBuiltin(AssemblerBuiltin builtin, Arguments arguments,
                                        const EvaluationContext& context) {
  if (arguments.size() != 1) return fail(Error::InvalidArgument);
  const output::image::Image* image = context.image;
  if (image == nullptr) return fail(Error::MissingEvaluationContext);
  const auto position = outputLoadTarget(context, arguments[0]);
  if (!position) return fail(position.error());
  const auto facts = position->section_known
                         ? output::image::regionFactsForSection(image->regions, position->section, position->address)
                         : output::image::regionFactsForAddress(image->regions, position->address);
  if (!facts) return fail(facts.error());
  switch (builtin) {
    case AssemblerBuiltin::region_file_offset:
      return Value::integer(facts->file_offset);
    case AssemblerBuiltin::region_file_size:
      return Value::integer(facts->file_size);
    default:
      return Value::integer(facts->logical_size);
  }
}

qovrin::Result<Value> evalOutputLoad(AssemblerBuiltin builtin, Arguments arguments, const EvaluationContext& context) {
  const bool bytes = builtin == AssemblerBuiltin::load_bytes;
  if (arguments.size() != (bytes ? 2u : 1u)) return fail(Error::InvalidArgument);
  const auto position = outputLoadTarget(context, arguments[0]);
  if (!position) return fail(position.error());
  const auto [address, section, known] = *position;
  const output::image::Image* image = context.image;
  if (bytes) {
    const auto count = evaluateBuiltinIntegerArg(arguments[1], context);
    if (!count) return fail(count.error());
    auto read = image == nullptr ? context.module.readBytesAt(section, address, *count)
                : known          ? image->readBytesInSection(section, address, *count)
                                 : image->readBytes(address, *count);
    if (!read) return fail(read.error());
    return Value::bytes(std::move(*read));
  }
  const std::uint64_t width = loadByteCount(kAssemblerBuiltinNames[static_cast<std::size_t>(builtin)]).value_or(8);
  const auto word = image == nullptr ? context.module.loadIntegerAt(section, address, width)
                    : known          ? image->loadIntegerInSection(section, address, width)
                                     : image->loadInteger(address, width);
  if (!word) return fail(word.error());
  return Value::integer(*word);
}

}  // namespace frontend::expr
