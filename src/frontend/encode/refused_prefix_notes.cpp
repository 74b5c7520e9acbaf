#include "frontend/encode/refused_prefix_notes.hpp"

#include <algorithm>
#include <array>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "frontend/encode/pass_x86.hpp"
#include "x86_encoder/bytecode.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/tables.hpp"

namespace frontend::pass {

namespace {

std::string quoted(std::string_view text) { return qovrin::quotedSubject(text); }

// The repeat word among the words written before the mnemonic.
std::string_view writtenRepeatWord(std::string_view before) {
  while (!before.empty()) {
    const std::size_t start = before.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    const std::size_t end = before.find_first_of(" \t", start);
    const std::string_view word = before.substr(start, end - start);
    if (x86_line::repeatKind(word) != 0) return word;
    before = end == std::string_view::npos ? std::string_view{} : before.substr(end);
  }
  return {};
}

// The line from its mnemonic on: the instruction without its prefix words.
fragment::Instruction withoutPrefixWords(const fragment::Instruction& line, const x86_line::ParsedInstruction& parsed) {
  const std::string_view text = line.text();
  fragment::Instruction bare;
  bare.setText(text.substr(static_cast<std::size_t>(parsed.mnemonic.data() - text.data())));
  bare.target = line.target;
  return bare;
}

std::string bndNote(std::string_view word, std::string_view mnemonic, x86_encoder::tables::TemplateRef chosen) {
  std::string note = quoted(word) + " goes only with near jumps, calls and returns";
  const std::uint64_t target = chosen.row().operand_count > 0 ? chosen.operandClass(0) : 0;
  if (target & x86_encoder::api::kFar)
    note += std::string(": a far ") + (qovrin::equalsIgnoreCase(mnemonic, "call") ? "call" : "jump") + " takes none";
  else if (target & x86_encoder::api::kShort)
    note += ": a short jump takes none";
  return note;
}

// What a near branch is called in a note, by its mnemonic.
std::string_view branchKind(std::string_view mnemonic) {
  if (qovrin::equalsIgnoreCase(mnemonic, "call")) return "a call";
  if (qovrin::equalsIgnoreCase(mnemonic, "jmp")) return "a jump";
  if (qovrin::lowerAscii(mnemonic.front()) == 'j') return "a conditional jump";
  return "a return";
}

}  // namespace

std::optional<std::string> x86RepeatWordNote(const fragment::Instruction& line,
                                             const x86_line::ParsedInstruction& parsed) {
  if (parsed.repeat == 0) return std::nullopt;
  const auto chosen_index = encodedTemplate(withoutPrefixWords(line, parsed));
  if (!chosen_index) return std::nullopt;
  const x86_encoder::tables::TemplateRef chosen{static_cast<std::uint32_t>(*chosen_index)};
  const std::string_view text = line.text();
  const std::string_view word =
      writtenRepeatWord(text.substr(0, static_cast<std::size_t>(parsed.mnemonic.data() - text.data())));
  constexpr std::uint8_t kBnd = 6;
  constexpr std::uint8_t kRepne = 3;
  if (parsed.repeat == kRepne && chosen.iflagTest(x86_encoder::tables::Iflag::kBnd))
    return quoted(word) + " before " + std::string(branchKind(parsed.mnemonic)) +
           " would write F2, which there means 'bnd': write 'bnd' for that";
  if (parsed.repeat >= kBnd) {
    if (chosen.iflagTest(x86_encoder::tables::Iflag::kBnd)) return std::nullopt;
    return bndNote(word, parsed.mnemonic, chosen);
  }
  using x86_encoder::bytecode::Sizing;
  const std::uint8_t code = x86_encoder::bytecode::findCode(chosen.program(), [](std::uint8_t c) {
    const Sizing sizing = x86_encoder::bytecode::describeCode(c).sizing;
    return sizing == Sizing::vex || sizing == Sizing::evex || c == 0331 || c == 0332 || c == 0333 || c == 0360 ||
           c == 0361;
  });
  // rep, repe, xrelease: F3; repne, xacquire: F2.
  const bool writes_f3 = parsed.repeat == 1 || parsed.repeat == 2 || parsed.repeat == 5;
  const std::string mnemonic = quoted(parsed.mnemonic);
  if (const Sizing sizing = x86_encoder::bytecode::describeCode(code).sizing;
      sizing == Sizing::vex || sizing == Sizing::evex) {
    const std::string kind = sizing == Sizing::vex ? "VEX" : "EVEX";
    return mnemonic + (sizing == Sizing::vex ? " is a " : " is an ") + kind + " instruction, which takes no " +
           quoted(word) + ": a legacy F2 or F3 before " + kind + " faults";
  }
  if (code == 0) return std::nullopt;
  const std::string written = writes_f3 ? "F3" : "F2";
  if (code != 0332 && code != 0333)
    return mnemonic + " takes no F2 or F3 prefix: " + quoted(word) + " would add " + written;
  const std::string carried = mnemonic + " already carries " + (code == 0333 ? "F3" : "F2") + " in its opcode";
  if ((code == 0333) == writes_f3) return carried + " and takes no " + quoted(word) + " besides";
  return carried + ": " + quoted(word) + " would put " + written + " in its place, which makes another instruction";
}

std::optional<std::string> x86LonePrefixNote(const fragment::Instruction& line,
                                             const x86_line::ParsedInstruction& parsed) {
  if (parsed.operand_count != 0 || (parsed.repeat == 0 && !parsed.lock)) return std::nullopt;
  fragment::Instruction alone;
  alone.setText(parsed.mnemonic);
  alone.target = line.target;
  if (!encodeX86(alone)) return std::nullopt;
  return quoted(parsed.first_word) + " needs an instruction after it, not the lone prefix " + quoted(parsed.mnemonic);
}

std::optional<std::string> x86WordBeforeInstructionNote(const fragment::Instruction& line,
                                                        const x86_line::ParsedInstruction& parsed) {
  static constexpr std::array<std::string_view, 8> kSizeWords = {"o16", "o32", "o64", "osp", "a16", "a32", "a64", "asp"};
  static constexpr std::array<std::string_view, 6> kSegments = {"cs", "ds", "es", "fs", "gs", "ss"};
  const std::string_view word = parsed.mnemonic;
  const auto is = [word](std::string_view name) { return qovrin::equalsIgnoreCase(word, name); };
  const bool segment = std::ranges::any_of(kSegments, is);
  if (parsed.operand_count == 0 || (!segment && !std::ranges::any_of(kSizeWords, is))) return std::nullopt;
  const std::string_view text = line.text();
  const std::size_t after = static_cast<std::size_t>(word.data() - text.data()) + word.size();
  const std::string_view rest = qovrin::trim(text.substr(std::min(after, text.size())), " \t");
  const std::string_view next = rest.substr(0, rest.find_first_of(" \t"));
  if (next.empty()) return std::nullopt;
  // A word this mode has no byte for is told by the mode's own note.
  fragment::Instruction alone;
  alone.setText(word);
  alone.target = line.target;
  if (!encodeX86(alone)) return std::nullopt;
  std::string note = quoted(word) + " before " + quoted(next) +
                     " is read as the instruction: a prefix word stands on a line of its own, the line before " +
                     quoted(rest);
  const std::size_t open = rest.find('[');
  if (segment && open != std::string_view::npos) {
    std::string inside(rest);
    inside.insert(open + 1, std::string(word) + ":");
    note += ", and a segment goes inside the memory operand: " + quoted(inside);
  }
  return note;
}

}  // namespace frontend::pass
