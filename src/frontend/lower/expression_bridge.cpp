#include "frontend/lower/expression_bridge.hpp"

#include "frontend/lower/aggregate_literal.hpp"
#include "frontend/lower/binding_reach.hpp"
#include "frontend/lower/expression_materialization.hpp"
#include "frontend/lower/meta_function_runtime.hpp"
#include "frontend/lower/value_function.hpp"
#include "frontend/lower/macro.hpp"

namespace frontend::lower::expression_bridge {

using context::LowerContext;
using contracts::IncludeRequest;
using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

// Codes that mean the same to the evaluator and to lowering.
bool sharedError(Error error) noexcept {
  switch (error) {
    case Error::OutOfMemory:
    case Error::InvalidApiInteger:
    case Error::FileNotAvailable:
    case Error::UndefinedSymbol:
    case Error::InvalidIntegerBits:
    case Error::InvalidType:
    case Error::UnknownTypeName:
    case Error::UnknownField:
    case Error::MissingStructFieldValue:
    case Error::DivisionByZero:
    case Error::InvalidSection:
    case Error::FragmentTooLarge:
    case Error::OffsetOverflow:
      return true;
    default:
      return false;
  }
}

// A callback failure as the file builtins see it: anything but running out
// of memory, a window outside the file or a file larger than the caller
// takes means the file is not there for them.
Error fileFailure(Error error) noexcept {
  if (error == Error::OutOfMemory || error == Error::InvalidApiInteger || error == Error::OutputTooLarge) return error;
  return Error::FileNotAvailable;
}

// A name with a NUL byte names no file: the two predicates refuse it, where
// any other name they cannot answer for is false.
bool holdsNul(std::string_view name) noexcept { return name.find('\0') != std::string_view::npos; }

IncludeRequest fileRequest(std::string_view name, std::string_view base) noexcept {
  IncludeRequest request;
  request.name = name;
  if (!base.empty()) request.base = base;
  return request;
}

}  // namespace

Error mapExpressionError(Error error) noexcept {
  if (sharedError(error)) return error;
  switch (error) {
    case Error::InvalidApiArgument:
    case Error::InvalidFragment:
      return Error::InvalidApiArgument;
    case Error::InvalidCharacter:
    case Error::InvalidOperand:
    case Error::InvalidArgument:
    case Error::InvalidNumber:
    case Error::InvalidToken:
    case Error::MissingEvaluationContext:
    case Error::TypeMismatch:
    case Error::UnexpectedEof:
      return Error::InvalidExpression;
    default:
      // Library failures (TOML, JSON, digests) keep their own names.
      return error;
  }
}

Error mapLowerErrorToExpression(Error error) noexcept {
  if (sharedError(error) || error == Error::InvalidApiArgument) return error;
  return Error::InvalidOperand;
}

qovrin::Result<ResolvedFile> readResolvedMetaFile(LowerContext& context, const IncludeRequest& request) {
  if (!context.paths.files_available || !context.paths.resolve_file_include) return fail(Error::FileNotAvailable);
  auto source = context.paths.resolve_file_include(request);
  if (!source) return fail(fileFailure(source.error()));
  return ResolvedFile{std::move(source->path), std::move(source->text)};
}

qovrin::Result<bool> metaFileExists(LowerContext& context, IncludeRequest request) {
  if (holdsNul(request.name)) return fail(Error::FileNotAvailable);
  if (!context.paths.files_available || !context.paths.resolve_file_include) return false;
  request.contents = false;
  const auto source = context.paths.resolve_file_include(request);
  if (!source && source.error() == Error::OutOfMemory) return fail(Error::OutOfMemory);
  return source.has_value();
}

qovrin::Result<std::vector<std::string>> listResolvedMetaDir(LowerContext& context, const IncludeRequest& request) {
  if (!context.paths.files_available || !context.paths.list_file_include_directory)
    return fail(Error::FileNotAvailable);
  auto listing = context.paths.list_file_include_directory(request);
  if (!listing) return fail(fileFailure(listing.error()));
  return listing;
}

qovrin::Result<bool> metaFileIsDir(LowerContext& context, const IncludeRequest& request) {
  if (holdsNul(request.name)) return fail(Error::FileNotAvailable);
  if (!context.paths.files_available || !context.paths.is_file_include_directory) return false;
  const auto directory = context.paths.is_file_include_directory(request);
  if (!directory) {
    if (directory.error() == Error::OutOfMemory) return fail(Error::OutOfMemory);
    return false;
  }
  return *directory;
}

void bindHooks(LowerContext& context) {
  context.hooks.resolve_local = [&context](std::string_view name) { return context::resolveLocalValue(context, name); };
  context.hooks.find_local = [&context](std::string_view name) { return context::lookupLocalValue(context, name); };
  context.hooks.eval_struct_literal = [&context](std::string_view text, const expr::EvaluationContext& evaluation) {
    return root::evalStructLiteralValue(context, text, evaluation);
  };
  context.hooks.call_value_function = [&context](std::string_view name, std::span<const expr::BuiltinArgument> arguments,
                                                 const expr::EvaluationContext& evaluation) {
    return root::evalUserValueFunction(context, name, arguments, evaluation);
  };
  context.hooks.function_may_reach = [&context](std::string_view function, std::string_view binding,
                                                const expr::EvaluationContext& evaluation) {
    return binding_reach::valueFunctionMayReach(context, evaluation.module.metaFunctions(), function, binding);
  };
  context.hooks.unique_symbol = [&context](std::string_view prefix) {
    return meta_function_runtime::nextUniqueSymbol(context, prefix);
  };
  context.hooks.evaluate_operand = [&context](const value::OperandValue& operand,
                                              const expr::EvaluationContext& evaluation) {
    return macro::evaluateOperand(context, operand, evaluation);
  };
  meta_io::MetaFileHooks& files = context.file_hooks;
  files.available = context.paths.files_available;
  if (!files.available) return;
  files.read = [&context](std::string_view name, std::string_view base, std::optional<meta_io::FileWindow> window,
                          std::uint64_t limit) -> qovrin::Result<std::string> {
    IncludeRequest request = fileRequest(name, base);
    request.window = window;
    request.limit = limit;
    auto file = readResolvedMetaFile(context, request);
    if (!file) return fail(file.error());
    return std::move(file->text);
  };
  files.exists = [&context](std::string_view name, std::string_view base) {
    return metaFileExists(context, fileRequest(name, base));
  };
  files.list = [&context](std::string_view name, std::string_view base) {
    return listResolvedMetaDir(context, fileRequest(name, base));
  };
  files.is_directory = [&context](std::string_view name, std::string_view base) {
    return metaFileIsDir(context, fileRequest(name, base));
  };
}

void syncFileBase(LowerContext& context) {
  if (context.include_stack.empty())
    context.file_hooks.base_path.clear();
  else
    context.file_hooks.base_path.assign(context.include_stack.back().path);
}

expr::EvaluationContext evaluationContextAt(module::Module& module, LowerContext& context,
                                            const contracts::ActiveOutput& cursor, const expr::EvaluationHooks& hooks) {
  return expr::EvaluationContext{
      .module = module,
      .offset = cursor.offset,
      .file_cursor = cursor.file_cursor,
      .image = context.output_image,
      .file_hooks = &context.file_hooks,
      .hooks = &hooks,
      .blocked_names = {},
      .target = cursor.target,
      .current_section = cursor.section,
      .handover = context.handover,
  };
}

qovrin::Result<std::uint64_t> evalIntegerAtContext(module::Module& module, LowerContext& context,
                                                   const contracts::ActiveOutput& cursor,
                                                   const expr::EvaluationHooks& hooks, const expr::Node& node) {
  const auto result = expr::evaluateValue(node, evaluationContextAt(module, context, cursor, hooks));
  if (!result) return fail(mapExpressionError(result.error()));
  const auto* integer = result->asInteger();
  if (integer == nullptr) return fail(mapExpressionError(Error::TypeMismatch));
  return integer->word;
}

}  // namespace frontend::lower::expression_bridge

namespace frontend::lower::root {

namespace {

// Loads before layout need every instruction so far encoded; once an image
// exists (a finalizer calling a value function) they read the finished image
// and the module must not be encoded again.
qovrin::Status prepareOutputLoads(module::Module& module, const context::LowerContext& context,
                                  const expr::Node& node) {
  if (context.output_image != nullptr || !expr::usesOutputLoad(node)) return {};
  return expression_materialization::forOutputAccess(module);
}

}  // namespace

qovrin::Result<value::Value> evalValueAtContext(module::Module& module, context::LowerContext& context,
                                                const contracts::ActiveOutput& cursor, const expr::Node& node) {
  QOVRIN_TRY(prepareOutputLoads(module, context, node));
  auto result =
      expr::evaluateValue(node, expression_bridge::evaluationContextAt(module, context, cursor, context.hooks));
  if (!result) return qovrin::fail(expression_bridge::mapExpressionError(result.error()));
  return result;
}

qovrin::Result<std::uint64_t> evalIntegerAtContext(module::Module& module, context::LowerContext& context,
                                                   const contracts::ActiveOutput& cursor, const expr::Node& node) {
  QOVRIN_TRY(prepareOutputLoads(module, context, node));
  return expression_bridge::evalIntegerAtContext(module, context, cursor, context.hooks, node);
}

}  // namespace frontend::lower::root
