#include "assembly/deferred_failure_notes.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "assembly/failing_part.hpp"
#include "common/display_text.hpp"
#include "common/little_endian.hpp"
#include "frontend/evaluate/expr_builtin.hpp"
#include "frontend/lower/api.hpp"
#include "frontend/lower/notes/arithmetic_notes.hpp"
#include "frontend/lower/notes/call_arity_notes.hpp"
#include "frontend/lower/notes/failure_asking.hpp"
#include "frontend/lower/notes/failure_dispatch.hpp"
#include "frontend/lower/notes/float_notes.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/deferred.hpp"
#include "frontend/lower/expression_names.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"

namespace assembly::deferred_failure_notes {

namespace {

using frontend::expr::Node;
using frontend::expr::NodeKind;
using frontend::output::image::ImageRegion;
using frontend::lower::failure_dispatch::Notes;
using qovrin::Error;

std::string quoted(std::string_view text) { return qovrin::quotedSubject(text); }

std::string hex(std::uint64_t value) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return "0x" + digits;
}

std::string byteCount(std::uint64_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

template <typename Picks>
const Node* firstNode(const StatementParts& parts, const Picks& picks) {
  for (const Node* tree : parts.trees)
    if (const Node* found = frontend::lower::expression_names::firstNode(*tree, picks)) return found;
  return nullptr;
}

std::optional<std::string> undefinedCause(const FailedRun& failed, const StatementParts& parts) {
  const Node* found = firstNode(parts, [&](const Node& node) {
    if (node.kind() == NodeKind::builtin_call)
      return !frontend::expr::isBuiltinName(node.text()) && !failed.module.metaFunctions().find(node.text());
    return frontend::lower::context::lookupLocalValue(failed.context, node.text()) == nullptr &&
           failed.module.findSymbol(node.text()) == nullptr;
  });
  if (found == nullptr) return std::nullopt;
  if (found->kind() == NodeKind::builtin_call) return "there is no builtin or function named " + quoted(found->text());
  return quoted(found->text()) + " is not defined";
}

// A message argument of a kind print, warn, err and assert do not show.
std::optional<std::string> messageCause(const FailedRun& failed, const frontend::ast::ApiCallStatement& call) {
  if (!frontend::lower::root::isAllowedDeferredApi(call.name) || call.name.starts_with("store.")) return std::nullopt;
  for (const frontend::ast::ApiCallArgument& argument : call.arguments) {
    const Node* node = argument.expression();
    if (node == nullptr) continue;
    const auto value = frontend::expr::evaluateValue(*node, failed.evaluation);
    if (!value) continue;
    const auto kind = value->kind();
    using frontend::value::ValueKind;
    if (kind != ValueKind::struct_ && kind != ValueKind::list && kind != ValueKind::map && kind != ValueKind::operand)
      continue;
    return quoted(call.name) + " in a 'defer' block shows integers, floats, booleans, strings, bytes and types, " +
           "and " + quoted(frontend::lower::deferred::renderExpressionSource(*node)) +
           " is " + frontend::value::kindWithArticle(kind);
  }
  return std::nullopt;
}

std::string regionList(std::span<const ImageRegion> regions) {
  std::string list;
  for (const ImageRegion& region : regions) {
    if (region.file_size == 0) continue;
    if (!list.empty()) list += ", ";
    list += hex(region.address);
    if (region.file_size > 1) list += " to " + hex(region.address + (region.file_size - 1));
  }
  return list;
}

// A load or store of `count` bytes that reached past what the image holds;
// none when the image holds them, and the access failed for another cause.
std::optional<std::string> outsideCause(const FailedRun& failed, std::string_view name, std::string_view verb,
                                        const frontend::expr::OutputPosition& place, std::uint64_t count) {
  const auto mapped = place.section_known ? failed.image.mapInSection(place.section, place.address, count)
                                          : failed.image.map(place.address, count);
  if (mapped || mapped.error() != Error::InvalidApiArgument) return std::nullopt;
  const std::string access =
      quoted(name) + " " + std::string(verb) + " " + byteCount(count) + " at address " + hex(place.address);
  const auto& regions = failed.image.regions;
  if (place.section_known) {
    const auto region = std::ranges::find(regions, place.section, &ImageRegion::section);
    if (region == regions.end()) return access + ", in a section that holds no bytes of the image";
    if (region->file_size == 0) return access + ", in a section that holds no bytes";
    return access + ", outside the " + byteCount(region->file_size) + " its section holds, at " +
           regionList(std::span(&*region, 1));
  }
  const std::string held = regionList(regions);
  if (held.empty()) return access + ", and the image holds no bytes";
  return access + ", outside the image, which holds " + byteCount(failed.image.bytes.size()) + ", at " + held;
}

std::optional<std::string> loadCause(const FailedRun& failed, const StatementParts& parts) {
  const auto& context = failed.evaluation;
  const Node* load = firstNode(parts, [&](const Node& node) {
    return node.kind() == NodeKind::builtin_call && node.text().starts_with("load.") &&
           !frontend::expr::evaluateValue(node, context);
  });
  if (load == nullptr || load->arguments().empty()) return std::nullopt;
  const auto place = frontend::expr::outputLoadTarget(context, load->arguments()[0]);
  if (!place) return std::nullopt;
  auto count = frontend::expr::loadByteCount(load->text());
  if (!count && load->arguments().size() == 2) {
    const auto asked = frontend::expr::evaluateBuiltinIntegerArg(load->arguments()[1], context);
    if (asked) count = *asked;
  }
  if (!count) return std::nullopt;
  return outsideCause(failed, load->text(), "reads", *place, *count);
}

std::optional<std::string> storeCause(const FailedRun& failed, const frontend::ast::ApiCallStatement& call) {
  if (!call.name.starts_with("store.") || call.arguments.size() != 2) return std::nullopt;
  const Node* target = call.arguments[0].expression();
  if (target == nullptr) return std::nullopt;
  std::optional<std::uint64_t> count = frontend::lower::api::storeByteCount(call.name);
  const auto literal = call.arguments[1].string();
  if (count && literal)
    return quoted(call.name) + " stores an integer, and the string " + quoted(*literal) + " is none";
  if (literal) count = literal->size();
  const auto& context = failed.evaluation;
  if (const Node* data = call.arguments[1].expression(); data != nullptr && !count) {
    const auto value = frontend::expr::evaluateValue(*data, context);
    if (value && value->asString() != nullptr) count = value->asString()->size();
    if (value && value->asBytes() != nullptr) count = value->asBytes()->size();
  }
  const auto place = frontend::expr::resolveOutputExpressionTarget(context, *target);
  if (!count || !place) return std::nullopt;
  return outsideCause(failed, call.name, "writes", *place, *count);
}

// A stored value wider than the field it goes into.
std::optional<std::string> widthCause(const FailedRun& failed, const frontend::ast::ApiCallStatement& call) {
  const auto width = frontend::lower::api::storeByteCount(call.name);
  const Node* stored = call.arguments.size() == 2 ? call.arguments[1].expression() : nullptr;
  if (!width || stored == nullptr) return std::nullopt;
  const auto value = frontend::expr::evaluateValue(*stored, failed.evaluation);
  if (!value || value->asInteger() == nullptr || qovrin::fitsIntegerWidth(value->asInteger()->word, *width))
    return std::nullopt;
  const std::string shown =
      frontend::lower::failure_asking::wordText(value->asInteger()->word, *stored, failed.evaluation.module);
  return shown + " does not fit the " + std::to_string(8 * *width) + "-bit field of " + call.name;
}

// An integer operation that left the unsigned 64-bit range, told as
// lowering tells it.
std::optional<std::string> arithmeticCause(const FailedRun& failed, const StatementParts& parts) {
  const auto& context = failed.evaluation;
  for (const Node* tree : parts.trees) {
    if (frontend::expr::evaluateValue(*tree, context)) continue;
    const Node& part = innermostFailingPart(*tree, context);
    if (part.kind() != NodeKind::binary) return std::nullopt;
    const auto left = frontend::expr::evaluateValue(part.left(), context);
    const auto right = frontend::expr::evaluateValue(part.right(), context);
    if (!left || !right) return std::nullopt;
    return frontend::lower::arithmetic_notes::integerRangeNote(part, *left, *right);
  }
  return std::nullopt;
}

// A value builtin given a count its form does not take, told as lowering
// tells it.
std::optional<std::string> valueArityCause(const StatementParts& parts) {
  const auto note = [](const Node& node) {
    return frontend::lower::call_arity_notes::valueArityNote(node.text(), node.arguments().size());
  };
  const Node* call = firstNode(
      parts, [&](const Node& node) { return node.kind() == NodeKind::builtin_call && note(node).has_value(); });
  return call == nullptr ? std::nullopt : note(*call);
}

// A number of a kind the call does not take, told as lowering tells it.
std::optional<std::string> argumentKindCause(const FailedRun& failed, const frontend::ast::ApiCallStatement& call) {
  for (std::size_t index = 0; index < call.arguments.size(); ++index) {
    const Node* node = call.arguments[index].expression();
    if (node == nullptr) continue;
    const auto value = frontend::expr::evaluateValue(*node, failed.evaluation);
    if (!value) continue;
    if (auto note = frontend::lower::float_notes::argumentKindNote(call, index, value->kind())) return note;
  }
  return std::nullopt;
}

// The causes a finalizer statement can tell, each as one note.
struct DeferredTeller : frontend::lower::failure_dispatch::Untold {
  const FailedRun& failed;

  static Notes told(std::optional<std::string> cause) {
    if (!cause) return {};
    return {{std::move(*cause), std::nullopt}};
  }

  Notes loopLimit() { return told("a 'while' loop stops after 1,000,000 rounds"); }
  Notes arithmetic() { return told(arithmeticCause(failed, failed.parts)); }
  Notes undefinedName() { return told(undefinedCause(failed, failed.parts)); }

  Notes arity() {
    const auto* call = failed.parts.call;
    if (call == nullptr) return {};
    return told(frontend::lower::call_arity_notes::arityNote(call->name, call->arguments.size()));
  }

  Notes integer(Error error) {
    if (error != Error::InvalidApiInteger || failed.parts.call == nullptr) return {};
    return told(widthCause(failed, *failed.parts.call));
  }

  Notes argument() {
    if (auto cause = loadCause(failed, failed.parts)) return told(std::move(cause));
    if (failed.parts.call == nullptr) return {};
    if (auto cause = messageCause(failed, *failed.parts.call)) return told(std::move(cause));
    return told(storeCause(failed, *failed.parts.call));
  }
};

}  // namespace

std::optional<std::string> failureCause(const FailedRun& failed, Error error) {
  auto& diagnostics = failed.module.diagnostics();
  const std::size_t before = diagnostics.diagnostics().size();
  DeferredTeller teller{{}, failed};
  // The evaluator's own codes, which lowering hides behind an expression's
  // failure, reach a finalizer as they are.
  Notes notes;
  if (error == Error::InvalidArgument) notes = DeferredTeller::told(valueArityCause(failed.parts));
  if (error == Error::TypeMismatch && failed.parts.call != nullptr)
    notes = DeferredTeller::told(argumentKindCause(failed, *failed.parts.call));
  if (notes.empty()) notes = frontend::lower::failure_dispatch::tell(teller, error);
  diagnostics.truncate(before);
  if (notes.empty()) return std::nullopt;
  return std::move(notes.front().message);
}

}  // namespace assembly::deferred_failure_notes
