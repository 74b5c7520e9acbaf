#include "frontend/encode/refused_form_notes.hpp"

#include <algorithm>
#include <bitset>
#include <vector>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "frontend/encode/backend_adapter.hpp"
#include "frontend/encode/isa_text.hpp"
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
    case Part::operand_count: {
      std::string note =
          quoted(mnemonic) + " takes " + std::to_string(failure.operands) + operandWord(failure.operands) + " here";
      if (failure.operands > 0 && !failure.names[0].empty()) {
        note += " (";
        for (std::size_t index = 0; index < failure.operands; ++index) {
          if (index > 0) note += ", ";
          note += failure.names[index];
        }
        note += ")";
      }
      return note;
    }
    case Part::immediate_range:
      return std::to_string(failure.value) + " does not fit the " + std::to_string(failure.bits) + "-bit " +
             (failure.is_signed ? "signed" : "unsigned") + " immediate";
    case Part::unknown:
      break;
  }
  return std::nullopt;
}

std::optional<std::string> x86Note(const fragment::Instruction& line) {
  isa_text::ParsedInstruction parsed;
  if (!isa_text::parseX86Line(line.text(), parsed)) return std::nullopt;
  const auto opcode = x86_encoder::tables::findMnemonic(parsed.mnemonic);
  if (!opcode) return noInstruction(parsed.mnemonic);
  const auto templates = x86_encoder::tables::templatesOf(*opcode);
  std::bitset<256> taken;
  for (std::uint32_t index = templates.first; index < templates.first + templates.count; ++index)
    taken.set(x86_encoder::tables::TemplateRef{index}.row().operand_count);
  if (taken.none() || taken.test(parsed.operand_count)) return std::nullopt;
  std::vector<std::size_t> counts;
  for (std::size_t count = 0; count < taken.size(); ++count)
    if (taken.test(count)) counts.push_back(count);
  return quoted(parsed.mnemonic) + " takes " + countList(counts) + operandWord(counts.back()) + ", not " +
         std::to_string(parsed.operand_count);
}

}  // namespace

std::optional<std::string> encodeFailureNote(const fragment::Instruction& line) {
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
