#include "frontend/syntax/lexer.hpp"

#include <array>
#include <bit>
#include <limits>

#include "common/packed_words.hpp"
#include "common/quoted_text.hpp"
#include "frontend/syntax/byte_scan.hpp"
#include "frontend/syntax/identifier.hpp"

namespace frontend::lexer {
namespace {

using identifier::isAsciiDigit;
using identifier::isAsciiLetter;
using identifier::isBlank;
using identifier::isNameChar;
using identifier::isNameStart;

constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

// Old data, reserve and layout directive words; the source language replaced
// them with calls, so a line starting with one is rejected with a hint.
constexpr std::array<std::string_view, 26> kLegacyDirectives = {
    "db", "dd", "dp", "dq",  "dw",  "dt",   "rb",   "rw",   "rd",   "ddq",  "dqq",   "org",   "ddqq",
    "rp", "rq", "rt", "rdq", "rqq", "rdqq", "resb", "resw", "resd", "resq", "times", "align", "section",
};

constexpr std::array<std::string_view, 17> kMetaKeywords = {
    "let",         "const", "fn",   "macro",  "meta",  "packed",   "for",    "while", "defer",
    "late_layout", "if",    "else", "return", "break", "continue", "struct", "union",
};

constexpr auto kPackedLegacyDirectives = qovrin::packedWordSet(kLegacyDirectives);

// The first letters of the directive words in either case: most mnemonics
// begin with another letter and need no search.
constexpr std::array<bool, 256> kLegacyDirectiveStarts = [] {
  std::array<bool, 256> starts{};
  for (const std::string_view word : kLegacyDirectives) {
    starts[static_cast<unsigned char>(word.front())] = true;
    starts[static_cast<unsigned char>(word.front() - 'a' + 'A')] = true;
  }
  return starts;
}();

bool isLegacyDirectiveWord(std::string_view word) noexcept {
  return !word.empty() && kLegacyDirectiveStarts[static_cast<unsigned char>(word.front())] &&
         qovrin::inPackedWordSet(kPackedLegacyDirectives, word);
}

// For each length, the keywords of that length as bits of their index, so
// that a word is compared only with keywords as long as itself.
constexpr auto kMetaKeywordsByLength = [] {
  std::array<std::uint32_t, 12> lengths{};
  for (std::size_t index = 0; index < kMetaKeywords.size(); ++index)
    lengths[kMetaKeywords[index].size()] |= std::uint32_t{1} << index;
  return lengths;
}();

// For each length, the first letters of the keywords of that length, as
// bits of their distance from "a".
constexpr auto kMetaKeywordStartsByLength = [] {
  std::array<std::uint32_t, kMetaKeywordsByLength.size()> starts{};
  for (const std::string_view keyword : kMetaKeywords)
    starts[keyword.size()] |= std::uint32_t{1} << (keyword.front() - 'a');
  return starts;
}();

// The keywords as long as the word are compared with it whole.
[[gnu::noinline]] bool equalsMetaKeyword(std::string_view word) noexcept {
  for (std::uint32_t same = kMetaKeywordsByLength[word.size()]; same != 0; same &= same - 1) {
    const std::string_view keyword = kMetaKeywords[static_cast<std::size_t>(std::countr_zero(same))];
    if (keyword.front() == word.front() && keyword == word) return true;
  }
  return false;
}

// Mnemonics are as long as some keyword; their length and first letter
// together rule out nearly all of them before any keyword is looked at. That
// test is inline: called, it took a sixth of the classification of a `db(1)`
// line (callgrind, bench/data_throughput.py's shape).
[[gnu::always_inline]] inline bool isMetaKeyword(std::string_view word) noexcept {
  if (word.empty() || word.size() >= kMetaKeywordsByLength.size()) return false;
  const unsigned letter = static_cast<unsigned char>(word.front()) - unsigned{'a'};
  if (letter >= 26 || (kMetaKeywordStartsByLength[word.size()] >> letter & 1) == 0) return false;
  return equalsMetaKeyword(word);
}

// The first character after `offset` that is not a blank or tab, or '\0' when none.
char nextNonBlank(std::string_view text, std::size_t offset) noexcept {
  while (offset < text.size() && isBlank(text[offset])) ++offset;
  return offset < text.size() ? text[offset] : '\0';
}

bool isLabel(std::string_view text) noexcept {
  if (text.size() < 2 || text.back() != ':' || !isNameStart(text.front())) return false;
  for (std::size_t index = 1; index + 1 < text.size(); ++index)
    if (!isNameChar(text[index])) return false;
  return true;
}

enum class NameByte : std::uint8_t { other, head, tail, dot };

// How each byte may stand in a dotted name: "head" starts or continues a
// segment, "tail" only continues one.
constexpr std::array<NameByte, 256> kNameBytes = [] {
  std::array<NameByte, 256> bytes{};
  for (int c = 0; c < 256; ++c) {
    const char byte = static_cast<char>(c);
    if (isAsciiLetter(byte) || byte == '_')
      bytes[static_cast<std::size_t>(c)] = NameByte::head;
    else if (isAsciiDigit(byte) || byte == '$')
      bytes[static_cast<std::size_t>(c)] = NameByte::tail;
    else if (byte == '.')
      bytes[static_cast<std::size_t>(c)] = NameByte::dot;
  }
  return bytes;
}();

struct LeadingWord {
  std::string_view word;  // as identifier::firstWord reads it
  // Whether the word is a dotted name: segments separated by ".", each
  // non-empty, starting with a letter or "_" and going on with letters,
  // digits, "_" or "$".
  bool dotted = false;
};

// The first word and its dotted-name check in one pass over it: done apart,
// they were a fifth of the lexing of a `db(1)` line (callgrind, 200k lines of
// bench/data_throughput.py's shape).
LeadingWord readLeadingWord(std::string_view text) noexcept {
  bool valid = true;
  bool segment_start = true;
  std::size_t end = 0;
  for (; end < text.size(); ++end) {
    const NameByte role = kNameBytes[static_cast<unsigned char>(text[end])];
    if (role == NameByte::other) break;
    valid = valid && (role == NameByte::head || (role == NameByte::tail && !segment_start) ||
                      (role == NameByte::dot && !segment_start));
    segment_start = role == NameByte::dot;
  }
  return {text.substr(0, end), valid && !segment_start};
}

bool isComment(std::string_view trimmed) noexcept {
  return trimmed.front() == ';' || trimmed.front() == '#' || trimmed.starts_with("//");
}

}  // namespace

// Every path fills and returns the one result, so that it is made where the
// caller receives it: a line made apart and then copied is read back in
// wider pieces than it was written, and each such read waits until the
// writes under it are done.
qovrin::Result<SourceLine> Lexer::next() {
  qovrin::Result<SourceLine> result{std::in_place};
  SourceLine& line = *result;
  line.location.span.source = source_;
  if (atEnd()) {
    if (text_.size() > kMaxU32) {
      result = qovrin::fail(qovrin::Error::SourceTooLarge);
      return result;
    }
    const auto end = static_cast<std::uint32_t>(text_.size());
    line.location.span.start = end;
    line.location.span.end = end;
    line.line = next_line_;
    return result;
  }

  const std::size_t line_start = static_cast<std::size_t>(position_);
  const std::size_t line_end = byte_scan::findFirstOf<'\n', '\r'>(text_, line_start);
  std::size_t after = line_end;
  if (after < text_.size()) {
    const bool crlf = text_[after] == '\r' && after + 1 < text_.size() && text_[after + 1] == '\n';
    after += crlf ? 2 : 1;
  }
  position_ = after;
  const std::uint32_t line_number = next_line_++;

  const std::string_view raw = text_.substr(line_start, line_end - line_start);
  std::size_t leading = 0;
  while (leading < raw.size() && isBlank(raw[leading])) ++leading;
  std::size_t trailing = raw.size();
  while (trailing > leading && isBlank(raw[trailing - 1])) --trailing;
  const std::string_view trimmed(raw.data() + leading, trailing - leading);

  std::uint64_t span_start = line_start + leading;
  std::uint64_t span_end = span_start + trimmed.size();
  if (trimmed.empty()) {
    span_start = line_start;
    span_end = line_end;
  }
  if (span_end > kMaxU32 || leading + 1 > kMaxU32) {
    result = qovrin::fail(qovrin::Error::SourceTooLarge);
    return result;
  }

  line.text = trimmed;
  line.location.span.start = static_cast<std::uint32_t>(span_start);
  line.location.span.end = static_cast<std::uint32_t>(span_end);
  line.line = line_number;
  line.column = static_cast<std::uint32_t>(leading + 1);
  if (!trimmed.empty()) line.kind = isComment(trimmed) ? LineKind::comment : classifyTrimmed(trimmed);
  return result;
}

LineKind classifyTrimmed(std::string_view text) noexcept {
  if (text == "{") return LineKind::open_brace;
  if (text == "}") return LineKind::close_brace;
  if (isLabel(text)) return LineKind::label;

  const auto [word, dotted] = readLeadingWord(text);
  const char after_word = nextNonBlank(text, word.size());
  if (after_word == '(') {
    // Data lines are nearly all "db(" calls, and "db" is also a legacy
    // directive word. Before "(" the text is one word, so it is neither an
    // assignment nor "@": the search of the word list and the scan of the
    // whole line for "=" are left out.
    if (isMetaKeyword(word)) return LineKind::meta;
    return dotted ? LineKind::call : LineKind::isa_text;
  }
  if (isLegacyDirectiveWord(word)) return LineKind::legacy_directive;
  if (isMetaKeyword(word)) return LineKind::meta;
  if (identifier::looksLikeAssignment(text)) return LineKind::meta;
  if (!text.empty() && text.front() == '@') return LineKind::meta;
  return LineKind::isa_text;
}

namespace {

// Where the trailing "//" comment of text starts under rules, or npos.
std::size_t commentStart(std::string_view text, qovrin::quoted_text::Rules rules) noexcept {
  std::size_t index = 0;
  while (true) {
    // Outside strings only a quote or a slash can matter: pass the rest at once.
    index = byte_scan::findFirstOf<'"', '\'', '/'>(text, index);
    if (index == text.size()) return std::string_view::npos;
    if (text[index] == '/') {
      if (index + 1 < text.size() && text[index + 1] == '/') return index;
      ++index;
    } else if (const char quote = qovrin::quoted_text::opener(rules, text, index)) {
      index = qovrin::quoted_text::closeAfter(rules, quote, text, index + 1);
      if (index == std::string_view::npos) return index;
    } else {
      ++index;
    }
  }
}

// Whether a builtin call may begin at the "(" at open: a name ends there,
// white space aside. A word read as a number ("8(sp)") names nothing, and
// a "$" before a name is passed over, as lowering reads them.
bool mayOpenCall(std::string_view text, std::size_t open) noexcept {
  while (open > 0 && qovrin::isOneOf(text[open - 1], " \t\n\v\f\r")) --open;
  const auto inWord = [](char c) { return isAsciiLetter(c) || isAsciiDigit(c) || c == '_' || c == '.' || c == '$'; };
  std::size_t start = open;
  while (start > 0 && inWord(text[start - 1])) --start;
  while (start < open && text[start] == '$') ++start;
  return start < open && !isAsciiDigit(text[start]);
}

std::size_t before(std::string_view text, std::size_t start) noexcept {
  if (start == std::string_view::npos) return text.size();
  while (start > 0 && isBlank(text[start - 1])) --start;
  return start;
}

}  // namespace

std::string_view textBeforeComment(std::string_view text, qovrin::quoted_text::Rules rules) noexcept {
  return text.substr(0, before(text, commentStart(text, rules)));
}

std::string_view isaTextBeforeComment(std::string_view text) noexcept {
  return textBeforeComment(text, qovrin::quoted_text::kSource);
}

std::string_view spirvTextBeforeComment(std::string_view text) noexcept {
  return textBeforeComment(text, qovrin::quoted_text::kSpirv);
}

std::size_t riscvCommentStart(std::string_view text) noexcept {
  using qovrin::quoted_text::kSource;
  std::size_t index = 0;
  while (true) {
    index = byte_scan::findFirstOf<'"', '\'', ';', '#'>(text, index);
    if (index == text.size()) return std::string_view::npos;
    if (text[index] == ';' || text[index] == '#') return index;
    if (const char quote = qovrin::quoted_text::opener(kSource, text, index)) {
      index = qovrin::quoted_text::closeAfter(kSource, quote, text, index + 1);
      if (index == std::string_view::npos) return index;
    } else {
      ++index;
    }
  }
}

InstructionText readInstructionText(std::string_view text, std::size_t from) noexcept {
  using qovrin::quoted_text::kSource;
  InstructionText read;
  read.plain = true;
  std::size_t index = from;
  while (true) {
    index = byte_scan::findFirstOf<'"', '\'', '/', '('>(text, index);
    if (index == text.size()) break;
    const char c = text[index];
    if (c == '/' && index + 1 < text.size() && text[index + 1] == '/') {
      read.code = before(text, index);
      return read;
    }
    if (c == '(' && mayOpenCall(text, index)) read.plain = false;
    const char quote = c == '/' || c == '(' ? '\0' : qovrin::quoted_text::opener(kSource, text, index);
    if (quote == 0) {
      ++index;
      continue;
    }
    const std::size_t end = qovrin::quoted_text::closeAfter(kSource, quote, text, index + 1);
    // SPIR-V text reads "'" as a plain byte and \" inside a string as a quote.
    if (quote == '\'') {
      read.spirv_apart = true;
    } else if (!read.spirv_apart) {
      const std::size_t inner_end = end == std::string_view::npos ? text.size() : end - 1;
      read.spirv_apart = text.substr(index + 1, inner_end - index - 1).find('\\') != std::string_view::npos;
    }
    if (end == std::string_view::npos) {
      read.plain = false;
      break;
    }
    index = end;
  }
  read.code = text.size();
  return read;
}

}  // namespace frontend::lexer
