#include "frontend/encode/backend_adapter.hpp"

#include <algorithm>
#include <array>
#include <limits>

#include "common/ascii.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/plain_number.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "riscv_encoder/source.hpp"
#include "riscv_encoder/tables.hpp"

namespace frontend::backend_adapter {

using qovrin::Error;
using qovrin::fail;
using riscv_encoder::RiscvResolvedExpression;

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

// Operand-syntax kinds whose label operand is encoded relative to the
// instruction: the branches (28 to 32), jal and j (35, 36), and the
// compressed jump and branches (80, 81).
bool isPcRelativeKind(std::uint8_t kind) noexcept {
  return (kind >= 28 && kind <= 32) || kind == 35 || kind == 36 || kind == 80 || kind == 81;
}

bool startsWord(char c) noexcept { return qovrin::isAsciiLetter(c) || c == '_'; }

// A name that starts with '.' and goes on with a letter or '_', such as a
// label line ".loop:" defines; at the first character of text.
bool startsDotName(std::string_view text) noexcept {
  return text.size() > 1 && text.front() == '.' && startsWord(text[1]);
}

// A lone name (a label, most often) never folds to a constant, which the
// expression parser would only confirm after building its tree.
// Every branch to a label asks, so each character costs one table read.
constexpr std::array<bool, 256> kNameCharacters = [] {
  std::array<bool, 256> table{};
  for (unsigned c = 0; c < 256; ++c)
    table[c] = qovrin::isAsciiLetter(static_cast<char>(c)) || qovrin::isAsciiDigit(static_cast<char>(c)) ||
               c == '_' || c == '$';
  return table;
}();

bool isPlainName(std::string_view text) noexcept {
  if (startsDotName(text)) text.remove_prefix(1);
  if (text.empty() || !startsWord(text.front())) return false;
  return std::ranges::all_of(text.substr(1), [](char c) { return kNameCharacters[static_cast<unsigned char>(c)]; });
}

// Whether a name of text starts with '.': the expression parser reads no
// such name, so an expression over one is left to the fixup, as a RISC-V
// operand is.
bool holdsDotName(std::string_view text) noexcept {
  for (std::size_t at = text.find('.'); at != std::string_view::npos; at = text.find('.', at + 1)) {
    const bool after_name = at > 0 && (startsWord(text[at - 1]) || qovrin::isAsciiDigit(text[at - 1]) ||
                                       text[at - 1] == '$' || text[at - 1] == '.');
    if (!after_name && startsDotName(text.substr(at))) return true;
  }
  return false;
}

// The operand-syntax kind of the first row of the line's mnemonic.
std::optional<std::uint8_t> riscvLineKind(std::string_view text) noexcept {
  const std::string_view trimmed = qovrin::trim(text, kBlanks);
  const std::string_view mnemonic{trimmed.begin(),
                                  std::ranges::find_if(trimmed, [](char c) { return qovrin::isOneOf(c, kBlanks); })};
  const auto rows = riscv_encoder::tables::rowsOfWritten(mnemonic);
  if (rows.empty()) return std::nullopt;
  return rows.front().kind;
}

constexpr __int128 kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr __int128 kU64Max = std::numeric_limits<std::uint64_t>::max();

}  // namespace

qovrin::Result<std::optional<x86_encoder::api::X86ResolvedExpression>> unknownX86ExpressionResolver(
    void* context, std::string_view text) {
  auto& resolver = *static_cast<X86ResolverContext*>(context);
  const auto bits = resolver.target.bits();
  if (resolver.target.isa != target::Isa::x86 || !bits || (*bits != 16 && *bits != 32 && *bits != 64))
    return std::nullopt;
  x86_encoder::api::X86ResolvedExpression answer;
  // A plain number in parentheses, which the encoder leaves to this reader,
  // is its own value: no tree is built for it. Such a text has nothing to
  // trim.
  if (text.size() > 2 && text.front() == '(' && text.back() == ')') {
    if (const auto number = plain_number::readWhole(text.substr(1, text.size() - 2))) {
      answer.value = static_cast<std::int64_t>(*number);
      answer.known = true;
      answer.absolute = true;
      return answer;
    }
  }
  const std::string_view trimmed = qovrin::trim(text, kBlanks);
  if (trimmed.empty()) return std::nullopt;
  if (!isPlainName(trimmed)) {
    const auto tree = expr::parseOwned(trimmed);
    if (!tree) {
      if (tree.error() == Error::OutOfMemory || tree.error() == Error::NestingTooDeep) return fail(tree.error());
      if (!holdsDotName(trimmed)) return fail(Error::ExpressionResolutionFailed);
    } else {
      const auto constant = expr::constantIntegerValue(*tree);
      if (!constant && constant.error() == Error::OutOfMemory) return fail(Error::OutOfMemory);
      if (!constant) {
        if (resolver.fold_failure != nullptr && !*resolver.fold_failure)
          resolver.fold_failure->emplace(std::string(trimmed), constant.error());
        return fail(Error::ExpressionResolutionFailed);
      }
      if (*constant) {
        answer.value = static_cast<std::int64_t>(**constant);
        answer.known = true;
        answer.absolute = true;
        return answer;
      }
    }
  }
  resolver.facts->push_back(FixupFact{std::string(trimmed), 0, 64, false, fixup::FixupRangePolicy::wrap});
  answer.symbolic = true;
  return answer;
}

qovrin::Result<RiscvResolvedExpression> recordUnresolvedRiscvExpression(void* context, std::string_view text) {
  auto& facts = *static_cast<RiscvFactContext*>(context);
  const std::string_view trimmed = qovrin::trim(text, kBlanks);
  if (trimmed.empty()) return RiscvResolvedExpression{};
  // Text that is no expression at all is refused with its line now, not
  // left to fail as an unresolved fixup. An operand nested too deep is left
  // to the fixup, which tells the limit.
  if (!isPlainName(trimmed) && !holdsDotName(trimmed)) {
    const auto tree = expr::parseOwned(trimmed);
    if (!tree && tree.error() == Error::OutOfMemory) return fail(Error::OutOfMemory);
    if (!tree && tree.error() != Error::NestingTooDeep) return RiscvResolvedExpression{};
  }
  facts.facts->push_back(FixupFact{std::string(trimmed), 0, 0, false, fixup::FixupRangePolicy::wrap});
  return RiscvResolvedExpression{0, true};
}

qovrin::Result<RiscvResolvedExpression> resolveRiscvExpression(void* context, std::string_view text) {
  const auto& patch = *static_cast<const RiscvPatchContext*>(context);
  const std::string_view trimmed = qovrin::trim(text, kBlanks);
  for (const ResolvedOperand& operand : patch.operands) {
    if (operand.text != trimmed) continue;
    // A value is read by its 64-bit pattern, as a literal is. Addresses
    // wrap around, and so does a distance: a label in the upper half and an
    // expression on it, which reads as negative, lie the same way.
    if (operand.value < kI64Min || operand.value > kU64Max) return fail(Error::ImmediateOutOfRange);
    auto value = static_cast<std::uint64_t>(operand.value);
    if (patch.pc_relative) {
      value -= patch.address;
      if (patch.xlen == 32) value = static_cast<std::uint32_t>(value);
    }
    return RiscvResolvedExpression{static_cast<std::int64_t>(value), false};
  }
  return RiscvResolvedExpression{};
}

qovrin::Result<RiscvEncoding> encodeResolvedRiscvInstruction(const fragment::Fragment& fragment,
                                                             target::Target module_target, std::uint64_t address,
                                                             std::span<const ResolvedOperand> operands) {
  const fragment::Instruction* line = fragment.instruction();
  if (line == nullptr) return fail(Error::InvalidFragment);
  const auto bits = line->target.bits() ? line->target.bits() : module_target.bits();
  if (!bits || (*bits != 32 && *bits != 64)) return fail(Error::InvalidModeBits);
  RiscvPatchContext context{address, operands, riscvMnemonicIsPcRelative(line->text()), *bits};
  const riscv_encoder::RiscvExpressionHook hook{&context, &resolveRiscvExpression, true};
  const auto encoded = riscv_encoder::source::encodeInstructionText(line->text(), *bits, hook);
  if (!encoded) return fail(encoded.error() == Error::OutOfMemory ? Error::OutOfMemory : Error::UnsupportedRiscvInstruction);
  return RiscvEncoding{encoded->output_word, encoded->size};
}

bool riscvMnemonicIsPcRelative(std::string_view text) noexcept {
  const auto kind = riscvLineKind(text);
  return kind && isPcRelativeKind(*kind);
}

bool riscvCsrOperand(std::string_view text, std::string_view operand) noexcept {
  const auto kind = riscvLineKind(text);
  if (!kind || *kind < 11 || *kind > 15) return false;
  // The CSR is the second operand of the csrr / csrrw forms, the first of csrw.
  std::size_t position = *kind <= 13 ? 1 : 0;
  const std::string_view trimmed = qovrin::trim(text, kBlanks);
  std::string_view rest = trimmed.substr(std::min(trimmed.size(), trimmed.find_first_of(kBlanks)));
  for (; position > 0; --position) {
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) return false;
    rest = rest.substr(comma + 1);
  }
  return qovrin::trim(rest.substr(0, rest.find(',')), kBlanks) == operand;
}

}  // namespace frontend::backend_adapter
