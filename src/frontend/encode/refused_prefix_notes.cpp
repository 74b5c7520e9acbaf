#include "frontend/encode/refused_prefix_notes.hpp"

#include <algorithm>
#include <array>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "frontend/encode/pass_x86.hpp"
#include "frontend/encode/x86_register_sizes.hpp"
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

constexpr std::uint8_t kOperandSizeByte = 0x66;
constexpr std::uint8_t kAddressSizeByte = 0x67;

// Whether the prefix byte stands among the legacy prefixes that open the bytes.
bool opensWith(std::span<const std::uint8_t> bytes, std::uint8_t prefix) {
  static constexpr std::array<std::uint8_t, 11> kLegacy = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65,
                                                           0x66, 0x67, 0xF0, 0xF2, 0xF3};
  for (const std::uint8_t byte : bytes) {
    if (byte == prefix) return true;
    if (std::ranges::find(kLegacy, byte) == kLegacy.end()) return false;
  }
  return false;
}

// The text when it encodes in the line's mode with the prefix byte.
std::optional<std::string> encodedWith(const fragment::Instruction& line, std::string text, std::uint8_t prefix) {
  fragment::Instruction candidate;
  candidate.setText(text);
  candidate.target = line.target;
  const auto encoded = encodeX86(candidate);
  if (!encoded || !opensWith(std::span(encoded->bytes.data(), encoded->bytes.size()), prefix)) return std::nullopt;
  return text;
}

bool isSizeWord(std::string_view word) {
  static constexpr std::array<std::string_view, 4> kSizes = {"byte", "word", "dword", "qword"};
  return std::ranges::any_of(kSizes, [word](std::string_view size) { return qovrin::equalsIgnoreCase(word, size); });
}

// The instruction with the operand that holds the field sized as the 66
// byte would size it, when that line writes the byte itself.
std::optional<std::string> sizedOperandLine(const fragment::Instruction& bare, std::size_t operand) {
  x86_line::ParsedInstruction parsed;
  if (!x86_line::parseX86Line(bare.text(), parsed) || parsed.operand_count == 0) return std::nullopt;
  // A pointer pair is one operand of the text and two of the template.
  const std::string_view written = parsed.operands()[std::min(operand, parsed.operand_count - 1)];
  const std::string_view first = written.substr(0, written.find_first_of(" \t"));
  const std::string size = bare.target.parameter == 16 ? "dword" : "word";
  std::string text(bare.text());
  const auto at = static_cast<std::size_t>(written.data() - bare.text().data());
  if (isSizeWord(first))
    text.replace(at, first.size(), size);
  else
    text.insert(at, size + " ");
  return encodedWith(bare, std::move(text), kOperandSizeByte);
}

// The instruction with its addresses in the size the 67 byte would give
// them: each register in the other size, or an address without registers
// named with its size.
std::optional<std::string> resizedAddressLine(const fragment::Instruction& bare) {
  using x86_encoder::api::kSizeDword;
  using x86_encoder::api::kSizeQword;
  using x86_encoder::api::kSizeWord;
  const unsigned bits = bare.target.parameter;
  const std::uint64_t from = bits == 16 ? kSizeWord : bits == 32 ? kSizeDword : kSizeQword;
  const std::uint64_t to = bits == 32 ? kSizeWord : kSizeDword;
  const std::string_view text = bare.text();
  std::string out;
  bool renamed = false;
  int depth = 0;
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (!qovrin::isAsciiLetter(c) && !qovrin::isAsciiDigit(c) && c != '_') {
      depth += c == '[' ? 1 : c == ']' && depth > 0 ? -1 : 0;
      out += c;
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() &&
           (qovrin::isAsciiLetter(text[end]) || qovrin::isAsciiDigit(text[end]) || text[end] == '_'))
      ++end;
    const std::string_view word = text.substr(at, end - at);
    const x86_encoder::tables::RegisterRow* row = depth > 0 ? x86_encoder::tables::findRegister(word) : nullptr;
    const x86_encoder::tables::RegisterRow* other =
        row != nullptr && generalPurposeSize(*row) == from ? resized(*row, to) : nullptr;
    out += other != nullptr ? other->name : word;
    renamed = renamed || other != nullptr;
    at = end;
  }
  if (!renamed) {
    const std::size_t open = out.find('[');
    if (open == std::string::npos) return std::nullopt;
    out.insert(open + 1, to == kSizeWord ? "word " : "dword ");
  }
  return encodedWith(bare, std::move(out), kAddressSizeByte);
}

// Codes of the fields whose width the operand size decides: immediates,
// relative targets and far pointers.
bool operandSizedField(std::uint8_t code) noexcept {
  return (code >= 030 && code < 044) || (code >= 060 && code < 0100) || (code >= 0254 && code < 0260) ||
         (code >= 0264 && code < 0270);
}

// What a size word's prefix byte on the line before would do to the
// instruction: nothing amiss (none), or the line that writes the byte with
// the instruction; an empty text when no line does.
std::optional<std::string> sizeWordAdvice(const fragment::Instruction& bare, std::uint8_t prefix) {
  const auto chosen_index = encodedTemplate(bare);
  if (!chosen_index) return std::nullopt;
  const x86_encoder::tables::TemplateRef chosen{static_cast<std::uint32_t>(*chosen_index)};
  using x86_encoder::bytecode::findCode;
  using x86_encoder::bytecode::Sizing;
  const auto program = chosen.program();
  if (prefix == kOperandSizeByte) {
    // A 66 byte before an opcode that takes no SSE prefix, or before VEX
    // or EVEX, makes another instruction or one that faults.
    const std::uint8_t opcode_prefix = findCode(program, [](std::uint8_t c) {
      const Sizing sizing = x86_encoder::bytecode::describeCode(c).sizing;
      return c == 0360 || sizing == Sizing::vex || sizing == Sizing::evex;
    });
    if (opcode_prefix != 0) return std::string();
    // o16, o32, o64nw and o64: a template that sets the operand size.
    const bool sized = findCode(program, [](std::uint8_t c) { return c >= 0320 && c <= 0324 && c != 0322; }) != 0;
    const std::uint8_t field = findCode(program, operandSizedField);
    if (!sized || field == 0) return std::nullopt;
    return sizedOperandLine(bare, field & 3u).value_or(std::string());
  }
  if (prefix != kAddressSizeByte) return std::nullopt;
  const bool moffs = findCode(program, [](std::uint8_t c) { return c >= 044 && c < 050; }) != 0;
  const bool memory = bare.text().find('[') != std::string_view::npos &&
                      findCode(program, [](std::uint8_t c) {
                        return x86_encoder::bytecode::describeCode(c).sizing == Sizing::effective_address;
                      }) != 0;
  if (!moffs && !memory) return std::nullopt;
  return resizedAddressLine(bare).value_or(std::string());
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
  const auto lone = encodeX86(alone);
  if (!lone) return std::nullopt;
  const std::string read = quoted(word) + " before " + quoted(next) + " is read as the instruction";
  fragment::Instruction bare;
  bare.setText(rest);
  bare.target = line.target;
  const auto advice = segment || lone->bytes.size() != 1 ? std::nullopt : sizeWordAdvice(bare, lone->bytes.data()[0]);
  if (advice) {
    const std::string misread =
        "a prefix word on the line before would make the bytes of " + quoted(rest) + " read as another instruction";
    if (advice->empty()) return read + ", and the line cannot be written: " + misread;
    const unsigned bits = line.target.parameter;
    const std::string what = lone->bytes.data()[0] == kOperandSizeByte
                                 ? "name the operand's size"
                                 : "write a " + std::string(bits == 32 ? "16" : "32") + "-bit address";
    return read + ": " + what + " instead, " + quoted(*advice) + "; " + misread;
  }
  std::string note = read + ": a prefix word stands on a line of its own, the line before " + quoted(rest);
  const std::size_t open = rest.find('[');
  if (segment && open != std::string_view::npos) {
    std::string inside(rest);
    inside.insert(open + 1, std::string(word) + ":");
    note += ", and a segment goes inside the memory operand: " + quoted(inside);
  }
  return note;
}

}  // namespace frontend::pass
