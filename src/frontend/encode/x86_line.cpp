#include "frontend/encode/x86_line.hpp"

#include <array>

#include "common/ascii.hpp"
#include "common/quoted_text.hpp"
#include "frontend/syntax/byte_scan.hpp"

namespace frontend::x86_line {

using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

// Character classes of the operand scan, so that the characters it passes
// over (most of them) cost one table read each.
constexpr std::uint8_t kStructural = 1;  // quotes, commas, parentheses, brackets, braces
constexpr std::uint8_t kBlank = 2;       // what lies around the commas between operands

constexpr std::array<std::uint8_t, 256> kClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  for (const char c : std::string_view("\"',()[]{}")) classes[static_cast<unsigned char>(c)] |= kStructural;
  for (const char c : std::string_view(" \t\n\v\f\r")) classes[static_cast<unsigned char>(c)] |= kBlank;
  return classes;
}();

constexpr bool hasClass(char c, std::uint8_t mask) noexcept {
  return (kClasses[static_cast<unsigned char>(c)] & mask) != 0;
}

// The end of the operand that starts at position: the first comma outside
// quotes, parentheses, brackets and braces. A closing character lowers only
// its own depth, and never below zero; quotes have no escape.
std::size_t operandEnd(std::string_view text, std::size_t position) noexcept {
  std::size_t parentheses = 0;
  std::size_t brackets = 0;
  std::size_t braces = 0;
  for (std::size_t at = position; at < text.size(); ++at) {
    while (at < text.size() && !hasClass(text[at], kStructural)) ++at;
    if (at == text.size()) break;
    const char c = text[at];
    switch (c) {
      case '"':
      case '\'': {
        if (qovrin::quoted_text::opener(qovrin::quoted_text::kSource, text, at) == 0) break;
        at = qovrin::quoted_text::closingQuote(qovrin::quoted_text::kSource, text, at);
        if (at == std::string_view::npos) return text.size();
        break;
      }
      case ',':
        if (parentheses == 0 && brackets == 0 && braces == 0) return at;
        break;
      case '(':
        ++parentheses;
        break;
      case '[':
        ++brackets;
        break;
      case '{':
        ++braces;
        break;
      case ')':
        if (parentheses > 0) --parentheses;
        break;
      case ']':
        if (brackets > 0) --brackets;
        break;
      default:
        if (braces > 0) --braces;
        break;
    }
  }
  return text.size();
}

qovrin::Status splitOperands(std::string_view rest, ParsedInstruction& parsed) {
  const auto skipBlanks = [rest](std::size_t at) {
    while (at < rest.size() && hasClass(rest[at], kBlank)) ++at;
    return at;
  };
  std::size_t position = skipBlanks(0);
  while (position != rest.size()) {
    // One comma between two operands, none before the first or after the
    // last. An operand ends only at its comma or at the end of the line.
    if (parsed.operand_count != 0) position = skipBlanks(position + 1);
    if (position == rest.size() || rest[position] == ',') return fail(Error::MissingOperand);
    const std::size_t end = operandEnd(rest, position);
    if (parsed.operand_count == kMaxOperands) return fail(Error::UnsupportedOperands);
    // The operand starts past every blank: only blanks before its comma are
    // left to trim.
    std::size_t last = end;
    while (last > position && qovrin::isOneOf(rest[last - 1], kBlanks)) --last;
    parsed.addOperand(std::string_view(rest.data() + position, last - position));
    position = end;
  }
  return {};
}

// Prefix words in front of the mnemonic: each gives its place to the first
// word of the first operand, the rest of that operand staying the first
// operand. A line takes one lock and one repeat kind; a second one is left
// as the mnemonic, which no instruction has, so the line is refused.
void takePrefixWords(ParsedInstruction& parsed) {
  while (parsed.operand_count > 0) {
    const std::uint8_t repeat = repeatKind(parsed.mnemonic);
    if (repeat != 0 ? parsed.repeat != 0 : parsed.lock || !qovrin::equalsIgnoreCase(parsed.mnemonic, "lock")) return;
    const std::span<std::string_view> operands = parsed.operands();
    const std::string_view first = operands[0];
    const std::size_t blank = first.find_first_of(" \t");
    const std::string_view inner = blank == std::string_view::npos ? std::string_view{}
                                                                   : qovrin::trim(first.substr(blank), kBlanks);
    const std::size_t count = parsed.operand_count - 1 + (inner.empty() ? 0 : 1);
    // No instruction that takes a prefix word has more operands.
    if (count > 4) return;
    if (repeat != 0)
      parsed.repeat = repeat;
    else
      parsed.lock = true;
    parsed.mnemonic = first.substr(0, blank);
    if (inner.empty()) {
      for (std::size_t index = 1; index < parsed.operand_count; ++index) operands[index - 1] = operands[index];
    } else {
      operands[0] = inner;
    }
    parsed.operand_count = count;
  }
}

}  // namespace

std::uint8_t repeatKind(std::string_view word) noexcept {
  struct Word {
    std::string_view text;
    std::uint8_t kind;
  };
  static constexpr std::array<Word, 9> kWords{{{"rep", 1},
                                               {"repe", 2},
                                               {"repz", 2},
                                               {"repne", 3},
                                               {"repnz", 3},
                                               {"xacquire", 4},
                                               {"xrelease", 5},
                                               {"bnd", 6},
                                               {"nobnd", 7}}};
  // Most mnemonics start with another letter.
  if (word.size() < 3 || !qovrin::isOneOf(qovrin::lowerAscii(word.front()), "rxbn")) return 0;
  for (const Word& known : kWords)
    if (qovrin::equalsIgnoreCase(word, known.text)) return known.kind;
  return 0;
}

qovrin::Status parseX86Line(std::string_view text, ParsedInstruction& parsed) {
  const std::string_view line = qovrin::trim(text, kBlanks);
  if (line.empty()) return fail(Error::InvalidInstructionText);
  // Operand slots past the count are never read: only the count and flags start over.
  parsed.operand_count = 0;
  parsed.lock = false;
  parsed.repeat = 0;
  std::size_t blank = byte_scan::findFirstOf<' ', '\t'>(line, 0);
  if (blank == line.size()) blank = std::string_view::npos;
  // Both from the local: copying the record's field would read back two
  // stores just made as one wider load, which waits for them to retire.
  const std::string_view first_word = line.substr(0, blank);
  parsed.first_word = first_word;
  parsed.mnemonic = first_word;
  // The line ends in no blank, and the split passes over blanks before an operand.
  if (blank != std::string_view::npos) QOVRIN_TRY(splitOperands(line.substr(blank), parsed));
  takePrefixWords(parsed);
  return {};
}

}  // namespace frontend::x86_line
