#include "frontend/encode/refused_evex_notes.hpp"

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "frontend/encode/pass_x86.hpp"

namespace frontend::pass {

namespace {

std::string quoted(std::string_view text) { return qovrin::quotedSubject(text); }

// An operand as written, without its decorators.
std::string_view undecorated(std::string_view operand) {
  return qovrin::trim(operand.substr(0, operand.find('{')), " \t\r\n");
}

}  // namespace

std::optional<std::string> x86UnrunnableFormNote(const fragment::Instruction& line,
                                                 const x86_line::ParsedInstruction& parsed) {
  using x86_encoder::evex_checks::Reason;
  const auto refusal = encoderRefusal(line);
  if (!refusal) return std::nullopt;
  const std::string mnemonic = quoted(parsed.mnemonic);
  switch (refusal->reason) {
    case Reason::zeroing_without_mask:
      return std::string("'{z}' needs a mask register k1 to k7 beside it (k0 stands for none): the processor "
                         "refuses zeroing without a mask");
    case Reason::vector_address_without_mask:
      return mnemonic + " needs a mask register k1 to k7 (k0 stands for none): the processor refuses a gather, "
                        "a scatter or their prefetch without one";
    case Reason::destination_is_source:
      if (refusal->operand == 0 || refusal->operand >= parsed.operand_count)
        return mnemonic + " with two operands reads its destination as its first source, which the processor "
                          "refuses: write three operands, the destination a register of its own";
      return mnemonic + " writes its destination while it still reads its sources, so the processor refuses " +
             quoted(undecorated(parsed.operands()[refusal->operand])) + " as a source of the destination " +
             quoted(undecorated(parsed.operands()[0]));
    case Reason::qword_integer_outside_64:
      return mnemonic + " takes a qword integer only in 64-bit code: in " +
             std::to_string(line.target.parameter) + "-bit code the processor ignores the W bit and takes a dword";
    case Reason::none:
      break;
  }
  return std::nullopt;
}

}  // namespace frontend::pass
