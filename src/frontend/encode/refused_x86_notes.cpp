#include "frontend/encode/refused_x86_notes.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "common/quoted_text.hpp"
#include "frontend/encode/pass_x86.hpp"
#include "frontend/encode/x86_register_sizes.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/syntax/expr_number.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/tables.hpp"

namespace frontend::pass {

namespace {

using x86_encoder::tables::RegisterRow;

std::string quoted(std::string_view text) { return qovrin::quotedSubject(text); }

bool isWordCharacter(char c) noexcept {
  return qovrin::isAsciiLetter(c) || qovrin::isAsciiDigit(c) || c == '_' || c == '.' || c == '$';
}

// Calls visit(word, inside_brackets) for every run of name characters.
template <typename Visit>
std::optional<std::string> forEachWord(std::string_view text, Visit visit) {
  int depth = 0;
  for (std::size_t index = 0; index < text.size();) {
    const char c = text[index];
    if (c == '[') ++depth;
    if (c == ']' && depth > 0) --depth;
    if (!isWordCharacter(c)) {
      ++index;
      continue;
    }
    std::size_t end = index;
    while (end < text.size() && isWordCharacter(text[end])) ++end;
    if (auto note = visit(text.substr(index, end - index), depth > 0)) return note;
    index = end;
  }
  return std::nullopt;
}

unsigned sizeBits(std::uint64_t size) noexcept {
  using namespace x86_encoder::api;
  return size == kSizeByte ? 8 : size == kSizeWord ? 16 : size == kSizeDword ? 32 : 64;
}

// "'eax' is 32-bit, 'bx' is 16-bit"
std::string twoSizes(std::string_view first, const RegisterRow& first_row, std::string_view second,
                     const RegisterRow& second_row) {
  return quoted(first) + " is " + std::to_string(sizeBits(generalPurposeSize(first_row))) + "-bit, " + quoted(second) +
         " is " + std::to_string(sizeBits(generalPurposeSize(second_row))) + "-bit";
}

// A name shaped like a numbered register: its family ("r", "xmm", ...), its
// number and the size letter an "r" register may carry.
struct RegisterShape {
  std::string family;
  std::string suffix;
};

std::optional<RegisterShape> registerShape(std::string_view word) {
  static constexpr std::array<std::string_view, 11> kFamilies = {"r",  "xmm", "ymm", "zmm", "tmm", "k",
                                                                 "mm", "st",  "cr",  "dr",  "bnd"};
  std::string lower;
  for (const char c : word) lower += qovrin::lowerAscii(c);
  const std::size_t digits = lower.find_first_of("0123456789");
  if (digits == std::string::npos || digits == 0) return std::nullopt;
  const std::size_t after = lower.find_first_not_of("0123456789", digits);
  RegisterShape shape{lower.substr(0, digits), after == std::string::npos ? "" : lower.substr(after)};
  if (std::ranges::find(kFamilies, shape.family) == kFamilies.end()) return std::nullopt;
  if (!shape.suffix.empty() && (shape.family != "r" || shape.suffix.size() != 1 ||
                                std::string_view("bwdl").find(shape.suffix) == std::string_view::npos))
    return std::nullopt;
  return shape;
}

// The highest number the family has with this suffix; none when it has no
// numbered register at all.
std::optional<unsigned> highestInFamily(const RegisterShape& shape) {
  std::optional<unsigned> highest;
  for (const RegisterRow& row : x86_encoder::tables::registers()) {
    const auto other = registerShape(row.name);
    if (!other || other->family != shape.family || other->suffix != shape.suffix) continue;
    const std::string_view digits =
        row.name.substr(shape.family.size(), row.name.size() - shape.family.size() - shape.suffix.size());
    unsigned number = 0;
    for (const char c : digits) number = number * 10 + static_cast<unsigned>(c - '0');
    highest = std::max(highest.value_or(0), number);
  }
  return highest;
}

std::optional<std::string> wordNote(std::string_view word, bool in_memory, unsigned bits) {
  if (qovrin::isAsciiDigit(word.front()) || word.front() == '.') return std::nullopt;
  const RegisterRow* row = x86_encoder::tables::findRegister(word);
  if (row == nullptr) {
    const auto shape = registerShape(word);
    if (!shape) return std::nullopt;
    std::string note = "there is no register " + quoted(word);
    if (const auto highest = highestInFamily(*shape))
      note += ": the highest is " + shape->family + std::to_string(*highest) + shape->suffix;
    return note;
  }
  if (!in_memory) return std::nullopt;
  const std::uint64_t size = generalPurposeSize(*row);
  if (size == x86_encoder::api::kSizeByte) return quoted(word) + " cannot address memory: it is an 8-bit register";
  if (size != x86_encoder::api::kSizeWord) return std::nullopt;
  if (bits == 64) return quoted(word) + " cannot address memory in 64-bit mode, which has no 16-bit addresses";
  if (std::ranges::none_of(std::array<std::string_view, 4>{"bx", "bp", "si", "di"},
                           [&](std::string_view name) { return row->name == name; }))
    return quoted(word) + " cannot address memory: 16-bit addresses take bx, bp, si and di";
  return std::nullopt;
}

// Registers of two sizes in one address.
std::optional<std::string> mixedAddressNote(std::string_view operand) {
  const RegisterRow* first = nullptr;
  std::string_view first_word;
  return forEachWord(operand, [&](std::string_view word, bool in_memory) -> std::optional<std::string> {
    const RegisterRow* row = in_memory ? x86_encoder::tables::findRegister(word) : nullptr;
    if (row == nullptr || generalPurposeSize(*row) == 0) return std::nullopt;
    if (first == nullptr) {
      first = row;
      first_word = word;
      return std::nullopt;
    }
    if (generalPurposeSize(*row) == generalPurposeSize(*first)) return std::nullopt;
    return "an address takes registers of one size: " + twoSizes(first_word, *first, word, *row);
  });
}

bool encodesAs(const fragment::Instruction& line, std::string_view text, unsigned bits) {
  fragment::Instruction other;
  other.setText(text);
  other.target = line.target;
  other.target.parameter = bits;
  return static_cast<bool>(encodeX86(other, nullptr));
}

struct Replacement {
  std::size_t at = 0;
  std::size_t length = 0;
  std::string_view name;
};

// Register operands of two sizes, when the line encodes with the later ones
// given the first one's size.
std::optional<std::string> sizeNote(const fragment::Instruction& line, const x86_line::ParsedInstruction& parsed) {
  const RegisterRow* first = nullptr;
  std::string_view first_text;
  std::string_view differing;
  const RegisterRow* differing_row = nullptr;
  std::vector<Replacement> replacements;
  for (const std::string_view operand : parsed.operands()) {
    const std::string_view word = qovrin::trim(operand, " \t\r\n");
    const RegisterRow* row = x86_encoder::tables::findRegister(word);
    if (row == nullptr || generalPurposeSize(*row) == 0) continue;
    if (first == nullptr) {
      first = row;
      first_text = word;
      continue;
    }
    if (generalPurposeSize(*row) == generalPurposeSize(*first)) continue;
    const RegisterRow* same = resized(*row, generalPurposeSize(*first));
    if (same == nullptr) return std::nullopt;
    if (differing.empty()) {
      differing = word;
      differing_row = row;
    }
    replacements.push_back({static_cast<std::size_t>(word.data() - line.text().data()), word.size(), same->name});
  }
  if (differing.empty()) return std::nullopt;
  // From the last, so that the earlier places hold.
  std::string text(line.text());
  for (auto replacement = replacements.rbegin(); replacement != replacements.rend(); ++replacement)
    text.replace(replacement->at, replacement->length, replacement->name);
  if (!encodesAs(line, text, line.target.parameter)) return std::nullopt;
  return "operand sizes differ: " + twoSizes(first_text, *first, differing, *differing_row);
}

// The modes other than the line's own in which text encodes.
std::vector<unsigned> otherModes(const fragment::Instruction& line, std::string_view text) {
  std::vector<unsigned> modes;
  for (const unsigned bits : {16u, 32u, 64u})
    if (bits != line.target.parameter && encodesAs(line, text, bits)) modes.push_back(bits);
  return modes;
}

// "16-bit" or "16-bit and 32-bit"; modes holds one or two.
std::string modeList(const std::vector<unsigned>& modes) {
  std::string text = std::to_string(modes.front()) + "-bit";
  if (modes.size() > 1) text += " and " + std::to_string(modes.back()) + "-bit";
  return text;
}

// Two signs in a row inside an address: "[ebx + -8]".
std::optional<std::string> doubledSignNote(std::string_view operand) {
  const std::size_t open = operand.find('[');
  if (open == std::string_view::npos) return std::nullopt;
  char previous = 0;
  std::size_t previous_at = 0;
  for (std::size_t index = open + 1; index < operand.size() && operand[index] != ']'; ++index) {
    const char c = operand[index];
    if (c == ' ' || c == '\t') continue;
    if ((c == '+' || c == '-') && (previous == '+' || previous == '-')) {
      const std::size_t term_end = operand.find_first_of("+-*]", index + 1);
      const std::string_view term = qovrin::trim(operand.substr(index + 1, term_end - index - 1), " \t");
      const std::string_view written = qovrin::trim(operand.substr(previous_at, term_end - previous_at), " \t");
      return quoted(written) + " has two signs in a row, which an address does not take: write " +
             quoted(std::string(c == previous ? "+ " : "- ") + std::string(term));
    }
    previous = c;
    previous_at = index;
  }
  return std::nullopt;
}

// Whether some form of the mnemonic takes a target relative to the
// instruction: a jump, call or loop.
bool isRelativeBranch(std::string_view mnemonic) {
  const auto opcode = x86_encoder::tables::findMnemonic(mnemonic);
  if (!opcode) return false;
  const auto templates = x86_encoder::tables::templatesOf(*opcode);
  for (std::uint32_t index = templates.first; index < templates.first + templates.count; ++index) {
    const x86_encoder::tables::TemplateRef form{index};
    const std::uint64_t target = form.row().operand_count > 0 ? form.operandClass(0) : 0;
    if ((target & x86_encoder::api::kClassImmediate) &&
        (target & (x86_encoder::api::kNear | x86_encoder::api::kShort)) && !(target & x86_encoder::api::kFar))
      return true;
  }
  return false;
}

// A branch target written with a size word that no branch of this mode has,
// or that its short form does not take: the line without the word encodes.
std::optional<std::string> branchSizeNote(const fragment::Instruction& line,
                                          const x86_line::ParsedInstruction& parsed) {
  if (parsed.operand_count != 1 || !isRelativeBranch(parsed.mnemonic)) return std::nullopt;
  static constexpr std::array<std::string_view, 4> kSizeWords = {"byte", "word", "dword", "qword"};
  std::string_view rest = qovrin::trim(parsed.operands()[0], " \t");
  std::string_view size;
  bool short_written = false;
  std::size_t size_at = 0;
  while (!rest.empty()) {
    const std::string_view word = rest.substr(0, rest.find_first_of(" \t"));
    const bool is_size = std::ranges::any_of(kSizeWords, [&](std::string_view name) {
      return qovrin::equalsIgnoreCase(word, name);
    });
    if (is_size) {
      size = word;
      size_at = static_cast<std::size_t>(word.data() - line.text().data());
    } else if (qovrin::equalsIgnoreCase(word, "short")) {
      short_written = true;
    } else if (!qovrin::equalsIgnoreCase(word, "near")) {
      break;
    }
    rest = qovrin::trim(rest.substr(word.size()), " \t");
  }
  if (size.empty()) return std::nullopt;
  std::string without(line.text());
  const std::size_t next = without.find_first_not_of(" \t", size_at + size.size());
  without.erase(size_at, (next == std::string::npos ? without.size() : next) - size_at);
  if (!encodesAs(line, without, line.target.parameter)) return std::nullopt;
  const std::string code = " in " + std::to_string(line.target.parameter) + "-bit code: write " +
                           quoted(qovrin::trim(without, " \t\r\n"));
  if (short_written) return quoted(size) + " does not go with 'short'" + code;
  return quoted(size) + " is no operand size of " + quoted(parsed.mnemonic) + code;
}

// 'near' or 'short' before a pointer pair, which makes a far jump or call.
std::optional<std::string> farPairReachNote(const fragment::Instruction& line,
                                            const x86_line::ParsedInstruction& parsed) {
  const bool call = qovrin::equalsIgnoreCase(parsed.mnemonic, "call");
  if (parsed.operand_count != 1 || (!call && !qovrin::equalsIgnoreCase(parsed.mnemonic, "jmp"))) return std::nullopt;
  static constexpr std::array<std::string_view, 4> kSizeWords = {"byte", "word", "dword", "qword"};
  std::string_view rest = qovrin::trim(parsed.operands()[0], " \t");
  std::string_view reach;
  while (!rest.empty()) {
    const std::string_view word = rest.substr(0, rest.find_first_of(" \t"));
    if (qovrin::equalsIgnoreCase(word, "near") || qovrin::equalsIgnoreCase(word, "short")) {
      if (reach.empty()) reach = word;
    } else if (std::ranges::none_of(kSizeWords,
                                    [&](std::string_view name) { return qovrin::equalsIgnoreCase(word, name); })) {
      break;
    }
    rest = qovrin::trim(rest.substr(word.size()), " \t");
  }
  if (reach.empty() || rest.find(':') == std::string_view::npos || rest.find('[') != std::string_view::npos)
    return std::nullopt;
  std::string note = quoted(reach) + " does not go with the pointer pair " + quoted(rest) + ", which makes a far " +
                     (call ? "call" : "jump");
  std::string without(line.text());
  const auto at = static_cast<std::size_t>(reach.data() - line.text().data());
  const std::size_t next = without.find_first_not_of(" \t", at + reach.size());
  without.erase(at, (next == std::string::npos ? without.size() : next) - at);
  if (encodesAs(line, without, line.target.parameter)) note += ": write " + quoted(qovrin::trim(without, " \t\r\n"));
  return note;
}

// A broadcast whose count this operand does not take, told by the counts
// with which the line encodes.
std::optional<std::string> broadcastNote(const fragment::Instruction& line, std::string_view operand) {
  std::string lower;
  for (const char c : operand) lower += qovrin::lowerAscii(c);
  const std::size_t open = lower.find("{1to");
  const std::size_t close = open == std::string::npos ? open : lower.find('}', open);
  if (close == std::string::npos) return std::nullopt;
  const std::string_view written = operand.substr(open, close + 1 - open);
  const auto at = static_cast<std::size_t>(written.data() - line.text().data());
  std::vector<std::string> taken;
  for (const unsigned count : {2u, 4u, 8u, 16u, 32u}) {
    const std::string decorator = "{1to" + std::to_string(count) + "}";
    std::string text(line.text());
    text.replace(at, written.size(), decorator);
    if (encodesAs(line, text, line.target.parameter)) taken.push_back(decorator);
  }
  if (std::ranges::find(taken, std::string(lower.substr(open, written.size()))) != taken.end()) return std::nullopt;
  const std::string not_taken = quoted(written) + " is no broadcast of this operand";
  if (taken.empty()) return not_taken + ", which takes none here";
  std::string counts;
  for (std::size_t index = 0; index < taken.size(); ++index)
    counts += (index == 0 ? "" : index + 1 == taken.size() ? " or " : ", ") + taken[index];
  return not_taken + ", which takes " + counts + " here";
}

// A byte outside strings that no operand is made of: a control character or
// one that is not ASCII, shown whole when it opens a UTF-8 sequence.
std::optional<std::string> unreadableByteNote(const fragment::Instruction& line) {
  const std::string_view text = line.text();
  qovrin::quoted_text::Cursor strings(line.target.strings());
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!strings.outside(text, at)) continue;
    const auto byte = static_cast<unsigned char>(text[at]);
    if ((byte >= 0x20 && byte < 0x7F) || qovrin::isOneOf(text[at], " \t\r\n\v\f")) continue;
    std::size_t end = at + 1;
    // The character's number, so that one that shows as nothing is told.
    std::uint32_t code = byte >= 0xF0 ? byte & 0x07u : byte >= 0xE0 ? byte & 0x0Fu : byte & 0x1Fu;
    while (byte >= 0xC0 && end < text.size() && end - at < 4 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
      code = (code << 6) | (static_cast<unsigned char>(text[end++]) & 0x3Fu);
    std::string note = quoted(text.substr(at, end - at));
    if (end - at > 1) {
      std::array<char, 16> number{};
      std::snprintf(number.data(), number.size(), " (U+%04X)", static_cast<unsigned>(code));
      note += number.data();
    }
    return note + " cannot stand in an operand outside a string";
  }
  return std::nullopt;
}

std::optional<std::string> modeNote(const fragment::Instruction& line) {
  std::vector<unsigned> modes;
  std::vector<unsigned> warned;
  std::optional<std::string> warning;
  for (const unsigned bits : {16u, 32u, 64u}) {
    if (bits == line.target.parameter) continue;
    if (encodesAs(line, line.text(), bits)) {
      modes.push_back(bits);
      continue;
    }
    // Another mode has the form but refuses these operands: say why.
    fragment::Instruction other = line;
    other.target.parameter = bits;
    if (auto refused = encoderWarning(other); refused && (!warning || *warning == *refused)) {
      warning = std::move(refused);
      warned.push_back(bits);
    }
  }
  const std::string not_here = "not encodable in " + std::to_string(line.target.parameter) + "-bit mode";
  if (!modes.empty()) return not_here + "; it encodes in " + modeList(modes) + " mode";
  if (warning) return not_here + "; in " + modeList(warned) + " mode it is refused: " + *warning;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> x86CommentNote(const fragment::Instruction& line) {
  const std::string_view text = line.text();
  qovrin::quoted_text::Cursor strings(line.target.strings());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (!strings.outside(text, at)) continue;
    if (c == ';' || c == '#')
      return quoted(std::string_view(&c, 1)) + " does not start a comment here: only '//' ends an instruction line";
  }
  return std::nullopt;
}

std::optional<std::string> x86OperandNote(const fragment::Instruction& line,
                                          const x86_line::ParsedInstruction& parsed) {
  const unsigned bits = line.target.parameter;
  const auto failure = operandFoldFailure(line);
  if (failure && failure->second == qovrin::Error::DivisionByZero)
    return quoted(failure->first) + " cannot be evaluated: division by zero";
  if (failure && failure->second == qovrin::Error::TypeMismatch)
    if (const auto tree = expr::parseOwned(failure->first))
      return quoted(failure->first) + " cannot be evaluated: " + expr::constantMismatchReason(*tree);
  if (auto note = unreadableByteNote(line)) return note;
  for (const std::string_view operand : parsed.operands()) {
    if (auto note = broadcastNote(line, operand)) return note;
    if (auto note = doubledSignNote(operand)) return note;
    if (auto note = expr::unreadableNumberNote(operand)) return note;
    if (auto note = forEachWord(
            operand, [bits](std::string_view word, bool in_memory) { return wordNote(word, in_memory, bits); }))
      return note;
    if (auto note = mixedAddressNote(operand)) return note;
  }
  if (auto note = sizeNote(line, parsed)) return note;
  if (auto note = branchSizeNote(line, parsed)) return note;
  if (auto note = farPairReachNote(line, parsed)) return note;
  return modeNote(line);
}

std::optional<std::string> x86PrefixNote(const fragment::Instruction& line,
                                         const x86_line::ParsedInstruction& parsed) {
  const std::string_view word = parsed.mnemonic;
  if (parsed.operand_count > 0 && parsed.repeat != 0 && x86_line::repeatKind(word) != 0)
    return quoted(word) + " follows another repeat prefix: a line takes one of rep, repe, repne, xacquire, "
                          "xrelease, bnd and nobnd";
  if (parsed.operand_count > 0 && parsed.lock && qovrin::equalsIgnoreCase(word, "lock"))
    return std::string("'lock' is written twice");
  const std::vector<unsigned> modes = otherModes(line, word);
  if (modes.empty()) return std::nullopt;
  return quoted(word) + " is a prefix valid only in " + modeList(modes) + " code";
}

}  // namespace frontend::pass
