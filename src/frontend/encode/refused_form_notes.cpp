#include "frontend/encode/refused_form_notes.hpp"

#include <algorithm>
#include <bitset>
#include <vector>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "frontend/encode/backend_adapter.hpp"
#include "frontend/encode/x86_line.hpp"
#include "frontend/encode/pass_x86.hpp"
#include "frontend/encode/refused_evex_notes.hpp"
#include "frontend/encode/refused_prefix_notes.hpp"
#include "frontend/encode/refused_x86_notes.hpp"
#include "frontend/syntax/expr_number.hpp"
#include "frontend/syntax/identifier.hpp"
#include "riscv_encoder/source.hpp"
#include "x86_encoder/tables.hpp"

namespace frontend::pass {

namespace {

std::string quoted(std::string_view text) { return qovrin::quotedSubject(text); }

std::string noInstruction(std::string_view mnemonic) { return "no instruction named " + quoted(mnemonic); }

std::string operandWord(std::size_t count) { return count == 1 ? " operand" : " operands"; }

// "1, 2 or 3" for the counts in increasing order.
std::string countList(const std::vector<std::size_t>& counts) {
  std::string text;
  for (std::size_t index = 0; index < counts.size(); ++index) {
    if (index > 0) text += index + 1 == counts.size() ? " or " : ", ";
    text += std::to_string(counts[index]);
  }
  return text;
}

// " (rd, rs1, imm12)": the fields the operands fill, when they can be told.
std::string fieldList(const riscv_encoder::RiscvFailure& failure) {
  if (failure.operands == 0 || failure.names[0].empty()) return {};
  std::string text = " (";
  for (std::size_t index = 0; index < failure.operands; ++index) {
    if (index > 0) text += ", ";
    text += failure.names[index];
  }
  return text + ")";
}

std::string countNote(std::string_view mnemonic, const riscv_encoder::RiscvFailure& failure) {
  if (!failure.unknown_base.empty()) return quoted(failure.unknown_base) + " is not a register";
  if (!failure.unclosed.empty()) return quoted(failure.unclosed) + " has no closing ')'";
  const std::string count = std::to_string(failure.operands) + operandWord(failure.operands);
  if (failure.implicit_sp)
    return "sp is implicit in " + quoted(mnemonic) + ", which takes " + count + fieldList(failure);
  return quoted(mnemonic) + " takes " + count + " here" + fieldList(failure);
}

// "offset 6" or "6": the value with what it stands for.
std::string subjectValue(const riscv_encoder::RiscvFailure& failure) {
  std::string text(failure.subject);
  if (!text.empty()) text += ' ';
  return text + std::to_string(failure.value);
}

std::string ruleNote(std::string_view mnemonic, const riscv_encoder::RiscvFailure& failure) {
  const riscv_encoder::ImmediateRule& rule = failure.rule;
  std::string note = subjectValue(failure) + " is out of range: " + quoted(mnemonic) + " takes " +
                     std::to_string(rule.minimum) + " to " + std::to_string(rule.maximum);
  if (rule.alignment > 1)
    note += std::string(rule.non_zero ? ", a non-zero" : ", a") + " multiple of " + std::to_string(rule.alignment);
  return note;
}

// The operand's text as written, with the register number it was read as.
std::string writtenRegister(const riscv_encoder::RiscvFailure& failure) {
  const std::string number = "x" + std::to_string(failure.value);
  const std::string_view written = failure.position > 0 ? failure.written[failure.position - 1] : std::string_view{};
  // The register of an address "offset(reg)" is told by its number alone.
  if (written.empty() || written.find('(') != std::string_view::npos || qovrin::equalsIgnoreCase(written, number))
    return number;
  return quoted(written) + " (" + number + ")";
}

std::string registerNote(std::string_view mnemonic, const riscv_encoder::RiscvFailure& failure) {
  using Rule = riscv_encoder::RegisterRule;
  switch (failure.register_rule) {
    case Rule::compressed:
      return quoted(mnemonic) + " takes x8-x15 here, not " + writtenRegister(failure);
    case Rule::not_zero:
      return quoted(mnemonic) + " cannot take x0 here";
    case Rule::not_zero_sp:
      return quoted(mnemonic) + " cannot take x0 or x2 (sp) here";
    case Rule::even:
      return quoted(mnemonic) + " takes an even register here, the first of a pair, not " + writtenRegister(failure);
  }
  return {};
}

std::string kindNote(std::string_view mnemonic, const riscv_encoder::RiscvFailure& failure) {
  const std::size_t index = failure.position - 1u;
  const std::string_view written = failure.position > 0 ? failure.written[index] : std::string_view{};
  std::string note = written.empty()
                         ? std::string(failure.wants_register ? "a value" : "a register")
                         : quoted(written) + (failure.wants_register ? " is a value" : " reads as a register");
  note += ", but " + quoted(mnemonic) + " takes " + (failure.wants_register ? "a register" : "a value");
  if (failure.position > 0 && !failure.names[index].empty()) note += " (" + std::string(failure.names[index]) + ")";
  return note + " here";
}

std::string xlenNote(std::string_view mnemonic, unsigned xlen, const riscv_encoder::RiscvFailure& failure) {
  std::string note = quoted(mnemonic) + (xlen == 32 ? " is RV64 only" : " is RV32 only");
  if (failure.rv32_form) note += "; write " + std::string(mnemonic) + ".rv32 on RV32";
  return note;
}

std::optional<std::string> riscvNote(const fragment::Instruction& line) {
  const std::string_view text = qovrin::trim(line.text(), " \t\r\n");
  const std::string_view mnemonic = text.substr(0, text.find_first_of(" \t"));
  // Operands the encoder cannot read go through the hook as on the first
  // encoding, so the line fails where it failed then.
  std::vector<backend_adapter::FixupFact> facts;
  backend_adapter::RiscvFactContext context{&facts};
  const riscv_encoder::RiscvExpressionHook hook{&context, &backend_adapter::recordUnresolvedRiscvExpression, true};
  riscv_encoder::RiscvFailure failure;
  if (riscv_encoder::source::encodeInstructionText(text, line.target.parameter, hook, &failure)) return std::nullopt;
  using Part = riscv_encoder::RiscvFailure::Part;
  switch (failure.part) {
    case Part::mnemonic:
      return noInstruction(mnemonic);
    case Part::operand_count:
      return countNote(mnemonic, failure);
    case Part::immediate_range:
      return std::to_string(failure.value) + " does not fit the " + std::to_string(failure.bits) + "-bit " +
             (failure.is_signed ? "signed" : "unsigned") + " immediate";
    case Part::alignment:
      return subjectValue(failure) + " is not a multiple of " + std::to_string(failure.rule.alignment);
    case Part::immediate_rule:
      return ruleNote(mnemonic, failure);
    case Part::register_rule:
      return registerNote(mnemonic, failure);
    case Part::operand_kind:
      return kindNote(mnemonic, failure);
    case Part::other_xlen:
      return xlenNote(mnemonic, line.target.parameter, failure);
    case Part::ordering_suffix: {
      const std::string_view base = mnemonic.substr(0, mnemonic.find_last_of(".-_"));
      return quoted(base) + " has no aq/rl bits for the " + quoted(mnemonic.substr(base.size())) + " suffix";
    }
    case Part::unreadable: {
      if (!failure.unknown_base.empty()) return quoted(failure.unknown_base) + " is not a register";
      if (!failure.unclosed.empty()) return quoted(failure.unclosed) + " has no closing ')'";
      const std::string_view written = failure.written[failure.position - 1u];
      if (auto number = expr::unreadableNumberNote(written)) return number;
      std::string note = quoted(written) + " is no operand " + quoted(mnemonic) + " can read here";
      if (failure.at_mask) note += ": its mask is written v0.t";
      if (failure.vector_offset)
        note += ": a vector address takes no offset and is written " + quoted(written.substr(written.find('(')));
      return note;
    }
    case Part::vector_type:
      return quoted(failure.written[failure.position - 1u]) + " is not a whole vector type: " + quoted(mnemonic) +
             " takes its four words, e8, m1, ta|tu, ma|mu";
    case Part::after_mask:
      return quoted(failure.written[failure.position - 1u]) + " follows the mask v0.t, the last operand of " +
             quoted(mnemonic);
    case Part::unknown:
      break;
  }
  return std::nullopt;
}

std::optional<std::string> x86Note(const fragment::Instruction& line) {
  if (auto note = x86CommentNote(line)) return note;
  x86_line::ParsedInstruction parsed;
  if (const auto split = x86_line::parseX86Line(line.text(), parsed); !split) {
    if (split.error() != qovrin::Error::MissingOperand) return std::nullopt;
    return std::string("an operand is empty: a comma stands only between two operands");
  }
  const auto opcode = x86_encoder::tables::findMnemonic(parsed.mnemonic);
  if (!opcode) {
    if (auto note = x86LonePrefixNote(line, parsed)) return note;
    if (auto note = x86WordBeforeInstructionNote(line, parsed)) return note;
    return x86PrefixNote(line, parsed).value_or(noInstruction(parsed.mnemonic));
  }
  const auto templates = x86_encoder::tables::templatesOf(*opcode);
  std::bitset<256> taken;
  for (std::uint32_t index = templates.first; index < templates.first + templates.count; ++index)
    taken.set(x86_encoder::tables::TemplateRef{index}.row().operand_count);
  if (taken.none()) return std::nullopt;
  if (taken.test(parsed.operand_count)) {
    if (auto note = x86RepeatWordNote(line, parsed)) return note;
    if (auto note = x86UnrunnableFormNote(line, parsed)) return note;
    // A line the encoder took, with a warning, failed on that warning.
    if (auto warning = encoderWarning(line)) return warning;
    return x86OperandNote(line, parsed);
  }
  std::vector<std::size_t> counts;
  for (std::size_t count = 0; count < taken.size(); ++count)
    if (taken.test(count)) counts.push_back(count);
  return quoted(parsed.mnemonic) + " takes " + countList(counts) + operandWord(counts.back()) + ", not " +
         std::to_string(parsed.operand_count);
}

}  // namespace

std::optional<std::string> encodeFailureNote(const fragment::Instruction& line) {
  // A label line reaches the encoder only when a comment followed the label:
  // the comment was cut off, and "name:" is left.
  const std::string_view text = qovrin::trim(line.text(), " \t\r\n");
  if (text.ends_with(':') && identifier::isName(text.substr(0, text.size() - 1)))
    return "a label line cannot end with a comment: write the comment on a line of its own";
  switch (line.target.isa) {
    case target::Isa::x86:
      return x86Note(line);
    case target::Isa::riscv:
      return riscvNote(line);
    case target::Isa::spirv:
      break;
  }
  return std::nullopt;
}

}  // namespace frontend::pass
