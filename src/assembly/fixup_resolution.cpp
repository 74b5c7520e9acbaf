#include "assembly/fixup_resolution.hpp"

#include "assembly/unresolved_fixup.hpp"
#include "common/ascii.hpp"
#include "frontend/lower/notes/limit_notes.hpp"
#include "frontend/lower/notes/nesting_notes.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/expr_number.hpp"
#include "frontend/evaluate/expr_eval.hpp"

namespace assembly {

using frontend::fixup::Fixup;
using frontend::fixup::FixupKind;
using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

// Failures that only mean the target has no number yet.
bool leavesUnresolved(Error error) noexcept {
  switch (error) {
    case Error::InvalidApiArgument:
    case Error::InvalidApiInteger:
    case Error::FileNotAvailable:
    case Error::UndefinedSymbol:
    case Error::InvalidIntegerBits:
    case Error::InvalidType:
    case Error::UnknownTypeName:
    case Error::UnknownField:
    case Error::MissingStructFieldValue:
    case Error::DivisionByZero:
    case Error::FragmentTooLarge:
    case Error::InvalidCharacter:
    case Error::InvalidOperand:
    case Error::InvalidArgument:
    case Error::InvalidNumber:
    case Error::InvalidToken:
    case Error::MissingEvaluationContext:
    case Error::TypeMismatch:
    case Error::UnexpectedEof:
      return true;
    default:
      return false;
  }
}

// What a target is evaluated with: the module and the field's own place,
// with the wrapping arithmetic of instruction operands.
frontend::expr::EvaluationContext evaluationAt(frontend::module::Module& module, std::uint64_t place_offset,
                                              std::uint32_t section) {
  return {.module = module, .offset = place_offset, .current_section = section, .wrapping = true};
}

// The value of a module symbol: a label's address or an integer value.
qovrin::Result<std::uint64_t> symbolValue(const frontend::module::Module& module,
                                          const frontend::symbol::Symbol& symbol) {
  if (const auto* label = symbol.label()) return module.labelAddress(*label);
  const auto* integer = symbol.value()->value.asInteger();
  if (integer == nullptr) return fail(Error::InvalidOperand);
  return integer->word;
}

// The target's number, none when it has none yet. An expression's result
// is a two's-complement word, below zero when its top bit is set, whichever
// way it is spelt; a plain name is an address or value as it stands.
qovrin::Result<std::optional<WideValue>> resolveTarget(frontend::module::Module& module, const Fixup& fixup,
                                                       std::uint64_t place_offset, std::uint32_t section) {
  const frontend::fixup::FixupTarget target = module.fixups().target(fixup);
  const std::string_view text = target.text;
  qovrin::Result<std::uint64_t> value = fail(Error::UndefinedSymbol);

  const auto folded = target.kind == FixupKind::expression ? splitFoldedAddend(text) : std::nullopt;
  const frontend::symbol::Symbol* folded_symbol = folded ? module.findSymbol(folded->name) : nullptr;
  if (target.kind == FixupKind::symbol) {
    const frontend::symbol::Symbol* symbol = module.findSymbol(text);
    if (symbol == nullptr) return std::nullopt;
    value = symbolValue(module, *symbol);
  } else if (folded_symbol != nullptr) {
    value = symbolValue(module, *folded_symbol);
    if (value) *value += static_cast<std::uint64_t>(folded->addend);
  } else {
    const auto tree = frontend::expr::parseOwned(text);
    if (!tree) {
      if (leavesUnresolved(tree.error())) return std::nullopt;
      return fail(tree.error());
    }
    value = frontend::expr::evaluateInteger(*tree, evaluationAt(module, place_offset, section));
  }
  if (!value) {
    if (leavesUnresolved(value.error())) return std::nullopt;
    return fail(value.error());
  }
  if (target.kind == FixupKind::symbol) return static_cast<WideValue>(*value) + target.addend;
  // The field's place against the instruction's end is operand arithmetic
  // too, which wraps with the expression.
  const std::uint64_t word = *value + static_cast<std::uint64_t>(target.addend);
  return static_cast<WideValue>(static_cast<std::int64_t>(word));
}

}  // namespace

std::optional<FoldedAddend> splitFoldedAddend(std::string_view text) noexcept {
  const std::size_t sign = text.find_last_of("+-");
  if (sign == std::string_view::npos) return std::nullopt;
  const std::string_view name = qovrin::trim(text.substr(0, sign), kBlanks);
  const std::string_view number = qovrin::trim(text.substr(sign + 1), kBlanks);
  if (number.empty() || !qovrin::isAsciiDigit(number.front()) ||
      frontend::expr::numberTokenEnd(number, 0) != number.size())
    return std::nullopt;
  if (name.empty() || frontend::fixup::classifyTargetText(name) != FixupKind::symbol) return std::nullopt;
  // Any spelling of an integer: a name that starts with '.' reaches no
  // expression, so its addend is read here or not at all.
  const auto literal = frontend::expr::readNumberToken(number);
  if (!literal || literal->kind() != frontend::expr::NodeKind::integer) return std::nullopt;
  const auto magnitude = static_cast<WideValue>(literal->integer());
  return FoldedAddend{name, text[sign] == '-' ? -magnitude : magnitude};
}

qovrin::Result<FixupResolutions> resolveFixups(frontend::module::Module& module,
                                               const frontend::layout::ModuleLayout& layout,
                                               std::vector<UnresolvedFixup>& unresolved) {
  const auto fragments = module.fragments();
  const frontend::layout::LayoutIndex index(layout, module.sections(), fragments.size());
  const frontend::fixup::FixupStore& fixups = module.fixups();
  FixupResolutions resolutions;
  resolutions.reserve(fixups.size());
  for (std::uint32_t number = 0; number < fixups.size(); ++number) {
    const Fixup& fixup = fixups[number];
    if (fixup.dropped) {
      resolutions.push_back(std::nullopt);
      continue;
    }
    if (fixup.fragment >= fragments.size()) return fail(Error::InvalidFragment);
    const std::uint32_t section = fragments[fixup.fragment].section;
    const frontend::layout::SectionLayout* row = index.section(section);
    if (row == nullptr) return fail(Error::InvalidSection);
    const frontend::layout::FragmentLayout* piece = index.fragment(*row, fixup.fragment);
    if (piece == nullptr) return fail(Error::InvalidFragment);
    std::uint64_t place_offset = 0;
    if (__builtin_add_overflow(piece->offset, std::uint64_t{fixup.offset}, &place_offset))
      return fail(Error::OffsetOverflow);
    const auto target = resolveTarget(module, fixup, place_offset, section);
    if (!target) {
      // An operand nested past the expression limits is first read here;
      // the note leads back to its line.
      if (target.error() == Error::NestingTooDeep)
        module.diagnostics().add(frontend::diagnostic::Severity::note, module.locationAt(fixup.fragment, fixup.offset),
                                 frontend::lower::nesting_notes::kExpressionNesting);
      return fail(target.error());
    }
    if (!*target) {
      // A label past the top of the address space is no target a later pass
      // could find: it is refused at the line that names it. Only a target
      // left unresolved is asked, so that resolved ones pay no second lookup.
      const frontend::fixup::FixupTarget written = fixups.target(fixup);
      const auto folded = written.kind == FixupKind::expression ? splitFoldedAddend(written.text) : std::nullopt;
      if (auto past = frontend::lower::limit_notes::pastAddressRange(module, folded ? folded->name : written.text)) {
        module.diagnostics().add(frontend::diagnostic::Severity::error,
                                 module.locationAt(fixup.fragment, fixup.offset), std::move(*past));
        return fail(Error::FrontendDiagnostics);
      }
      unresolved.push_back({module.locationAt(fixup.fragment, fixup.offset),
                            describeUnresolvedFixup(fixup, evaluationAt(module, place_offset, section))});
    }
    resolutions.push_back(*target);
  }
  return resolutions;
}

}  // namespace assembly
