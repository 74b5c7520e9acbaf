#include "frontend/encode/riscv_comment.hpp"

#include <algorithm>
#include <array>

#include "common/ascii.hpp"
#include "frontend/syntax/byte_scan.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/identifier.hpp"
#include "riscv_encoder/api.hpp"
#include "riscv_encoder/source.hpp"
#include "riscv_encoder/tables.hpp"

namespace frontend::riscv_comment {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

bool isBlank(char c) noexcept { return c == ' ' || c == '\t'; }

enum class Byte : std::uint8_t { other, blank, word, mark };

constexpr std::array<Byte, 256> kBytes = [] {
  std::array<Byte, 256> bytes{};
  for (int c = 0; c < 256; ++c) {
    const auto ch = static_cast<char>(c);
    if (qovrin::isAsciiLetter(ch) || qovrin::isAsciiDigit(ch) || ch == '_' || ch == '.' || ch == '$')
      bytes[static_cast<std::size_t>(c)] = Byte::word;
  }
  bytes[' '] = bytes['\t'] = Byte::blank;
  bytes[';'] = bytes['#'] = Byte::mark;
  return bytes;
}();

// Where a reading of a comment stands, as mayBeCode reads each piece. Each
// value is the state times 256, the row of the next byte in kSteps.
enum Step : std::uint16_t {
  lead = 0,             // blanks before a piece's first word
  mnemonic = 1 * 256,   // its first word
  operands = 2 * 256,   // past a byte that is neither a word's nor a blank
  word = 3 * 256,       // in a word of the operands
  after_word = 4 * 256, // blanks after such a word: another word makes it prose
  prose = 5 * 256,      // up to the next mark
  code = 6 * 256,       // a piece that may be code has ended: the rest is not read
};

constexpr std::array<std::uint16_t, 7 * 256> kSteps = [] {
  std::array<std::uint16_t, 7 * 256> steps{};
  for (std::size_t c = 0; c < 256; ++c) {
    const Byte kind = kBytes[c];
    const auto set = [&](Step from, Step blank, Step in_word, Step other, Step mark) {
      steps[from + c] = kind == Byte::blank ? blank : kind == Byte::word ? in_word : kind == Byte::mark ? mark : other;
    };
    set(lead, lead, mnemonic, mnemonic, lead);
    set(mnemonic, operands, mnemonic, mnemonic, code);
    set(operands, operands, word, operands, code);
    set(word, after_word, word, operands, code);
    set(after_word, after_word, prose, operands, code);
    set(prose, prose, prose, prose, lead);
    set(code, code, code, code, code);
  }
  return steps;
}();

// Instructions GNU as reads that have no row here: GNU spellings of other
// rows, and sequences of several.
enum class Pseudo { none, register_value, register_register, maybe_register_then_value, value, no_operands };

struct PseudoForm {
  std::string_view mnemonic;
  Pseudo operands;
};

constexpr std::array<PseudoForm, 8> kPseudoForms = {{
    {"li", Pseudo::register_value},
    {"la", Pseudo::register_value},
    {"call", Pseudo::maybe_register_then_value},
    {"tail", Pseudo::value},
    {"not", Pseudo::register_register},
    {"neg", Pseudo::register_register},
    {"mv", Pseudo::register_register},
    {"fence", Pseudo::no_operands},
}};

Pseudo pseudoForm(std::string_view mnemonic) noexcept {
  for (const PseudoForm& form : kPseudoForms)
    if (qovrin::equalsIgnoreCase(form.mnemonic, mnemonic)) return form.operands;
  return Pseudo::none;
}

// The operand pieces of text, cut at commas outside parentheses; false when
// one of them is empty or the visit refuses it.
template <typename Visit>
bool eachOperand(std::string_view text, Visit visit) {
  if (text.empty()) return true;
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t at = 0; at <= text.size(); ++at) {
    const char c = at < text.size() ? text[at] : ',';
    if (c == '(') ++depth;
    if (c == ')' && depth > 0) --depth;
    if (c != ',' || depth > 0) continue;
    const std::string_view piece = qovrin::trim(text.substr(start, at - start), kBlanks);
    if (piece.empty() || !visit(piece)) return false;
    start = at + 1;
  }
  return true;
}

// A value as an operand of code is written: a number, a name or an
// expression, and no register.
bool isValue(std::string_view text) {
  text = qovrin::trim(text, kBlanks);
  if (text.empty() || riscv_encoder::api::parseRegister(text)) return false;
  if (identifier::isName(text)) return true;
  return static_cast<bool>(expr::parseOwned(text));
}

bool isRegister(std::string_view text) noexcept { return static_cast<bool>(riscv_encoder::api::parseRegister(text)); }

bool fitsPseudoForm(Pseudo form, std::string_view operands) {
  std::array<std::string_view, 3> pieces{};
  std::size_t count = 0;
  const bool read = eachOperand(operands, [&](std::string_view piece) {
    if (count == pieces.size()) return false;
    pieces[count++] = piece;
    return true;
  });
  if (!read) return false;
  switch (form) {
    case Pseudo::none:
      return false;
    case Pseudo::register_value:
      return count == 2 && isRegister(pieces[0]) && isValue(pieces[1]);
    case Pseudo::register_register:
      return count == 2 && isRegister(pieces[0]) && isRegister(pieces[1]);
    case Pseudo::maybe_register_then_value:
      return (count == 1 && isValue(pieces[0])) || (count == 2 && isRegister(pieces[0]) && isValue(pieces[1]));
    case Pseudo::value:
      return count == 1 && isValue(pieces[0]);
    case Pseudo::no_operands:
      return count == 0;
  }
  return false;
}

// A name or expression stands for a label not yet placed, as on a first
// encoding; prose that reaches the hook is no operand.
qovrin::Result<riscv_encoder::RiscvResolvedExpression> anyValue(void*, std::string_view text) {
  if (!isValue(text)) return riscv_encoder::RiscvResolvedExpression{};
  return riscv_encoder::RiscvResolvedExpression{0, true};
}

// Reads a piece from `at` up to the next mark, as far as it may be code: a
// first word, then operands in which no two words stand side by side, as
// prose has them and no operand of code does. One pass over the bytes before
// any lookup rules out most comments. Leaves `at` at the next mark, or where
// the piece turned out to be prose.
bool mayBeCode(std::string_view text, std::size_t& at) noexcept {
  const auto byte = [&text](std::size_t index) { return kBytes[static_cast<unsigned char>(text[index])]; };
  while (at < text.size() && byte(at) == Byte::blank) ++at;
  while (at < text.size() && byte(at) != Byte::blank && byte(at) != Byte::mark) ++at;
  bool after_word = false;  // blanks follow a word
  Byte previous = Byte::blank;
  for (; at < text.size(); ++at) {
    const Byte current = byte(at);
    if (current == Byte::mark) break;
    if (current == Byte::blank) {
      after_word = after_word || previous == Byte::word;
    } else {
      if (current == Byte::word && after_word) return false;
      after_word = false;
    }
    previous = current;
  }
  return true;
}

bool isInstruction(std::string_view piece, unsigned xlen) {
  const auto blank = std::ranges::find_if(piece, isBlank);
  const std::string_view mnemonic{piece.begin(), blank};
  const std::string_view operands = qovrin::trim({blank, piece.end()}, kBlanks);
  // A dotted mnemonic may name its row with a suffix the encoder takes off
  // (amoadd.w.aqrl, mop.r.3).
  const bool may_have_rows = !riscv_encoder::tables::rowsOfWritten(mnemonic).empty() ||
                             std::ranges::any_of(mnemonic, [](char c) { return c == '.' || c == '-'; });
  const Pseudo pseudo = pseudoForm(mnemonic);
  if (!may_have_rows && pseudo == Pseudo::none) return false;
  const riscv_encoder::RiscvExpressionHook hook{nullptr, &anyValue, true};
  if (may_have_rows && riscv_encoder::source::encodeInstructionText(piece, xlen, hook)) return true;
  return fitsPseudoForm(pseudo, operands);
}

}  // namespace

bool mayHoldInstructions(std::string_view comment) noexcept {
  const auto next = [&comment](std::size_t step, std::size_t at) {
    return std::size_t{kSteps[step + static_cast<unsigned char>(comment[at])]};
  };
  std::size_t step = lead;
  std::size_t at = 0;
  // Four bytes a round: the loop's own count and test cost as much as a step.
  for (; comment.size() - at >= 4; at += 4)
    step = next(next(next(next(step, at), at + 1), at + 2), at + 3);
  if (comment.size() - at >= 2) {
    step = next(next(step, at), at + 1);
    at += 2;
  }
  if (at < comment.size()) step = next(step, at);
  return step != lead && step != prose;
}

std::vector<std::string_view> commentedInstructions(std::string_view comment, unsigned xlen) {
  std::vector<std::string_view> found;
  std::size_t mark = 0;
  while (mark < comment.size()) {
    std::size_t end = mark + 1;
    if (mayBeCode(comment, end)) {
      const std::string_view piece = qovrin::trim(comment.substr(mark + 1, end - mark - 1), kBlanks);
      if (!piece.empty() && isInstruction(piece, xlen)) found.push_back(piece);
    } else {
      end = byte_scan::findFirstOf<';', '#'>(comment, end);
    }
    mark = end;
  }
  return found;
}

std::string_view commentWarning(std::string_view comment) noexcept {
  if (comment.starts_with('#')) return "an instruction after '#' is a comment and is not assembled";
  return "an instruction after ';' is a comment and is not assembled";
}

}  // namespace frontend::riscv_comment
