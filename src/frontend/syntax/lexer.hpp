#pragma once
// Cuts a source text into trimmed, classified lines. Lines borrow their text
// from the source buffer, which must outlive them.

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/ascii.hpp"
#include "common/error.hpp"
#include "common/quoted_text.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::lexer {

enum class LineKind : std::uint8_t {
  blank = 0,
  comment = 1,
  label = 2,
  isa_text = 3,
  call = 4,
  legacy_directive = 5,
  meta = 6,
  open_brace = 7,
  close_brace = 8,
};

struct SourceLine {
  std::string_view text;  // without terminator, trimmed of blanks and tabs
  SourceLocation location;
  std::uint32_t line = 0;    // 1-based
  std::uint32_t column = 1;  // leading blanks and tabs + 1
  LineKind kind = LineKind::blank;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text, std::optional<std::uint32_t> source = std::nullopt)
      : text_(text), source_(source) {}

  bool atEnd() const noexcept { return position_ >= text_.size(); }

  // Returns the next line and moves past it.
  qovrin::Result<SourceLine> next();

  std::string_view text() const noexcept { return text_; }
  std::uint64_t position() const noexcept { return position_; }

 private:
  std::string_view text_;
  std::uint64_t position_ = 0;
  std::optional<std::uint32_t> source_;
  std::uint32_t next_line_ = 1;
};

// Kind of a non-empty trimmed text that is not a comment.
LineKind classifyTrimmed(std::string_view text) noexcept;

using qovrin::isDigitSeparator;

// The text before a trailing "//" comment outside strings read under rules,
// trimmed of trailing blanks and tabs.
std::string_view textBeforeComment(std::string_view text, qovrin::quoted_text::Rules rules) noexcept;

// As x86 and RISC-V lines read strings: either quote opens one, and a
// backslash is a character like any other.
std::string_view isaTextBeforeComment(std::string_view text) noexcept;

// As SPIR-V text reads strings: only '"' opens one, and \" inside it is a
// quote that does not close it.
std::string_view spirvTextBeforeComment(std::string_view text) noexcept;

// Where a RISC-V line's comment starts: its first ';' or '#' outside
// strings, read as x86 and RISC-V lines read them; npos when it has none.
// Nothing after it is read as a string.
std::size_t riscvCommentStart(std::string_view text) noexcept;

// An instruction line read once, before its target is known.
struct InstructionText {
  std::size_t code = 0;  // bytes before the comment as isaTextBeforeComment cuts it
  // No name before a parenthesis outside a string, where a call would begin,
  // and no string left open, as every target but SPIR-V reads strings
  // (SPIR-V too where spirv_apart is false).
  bool plain = false;
  // SPIR-V's reading of the strings may cut the comment elsewhere: the line
  // holds a "'" that opens a string or a backslash inside a '"' string.
  bool spirv_apart = false;
};

// The bytes before `from` hold no quote, slash or parenthesis.
InstructionText readInstructionText(std::string_view text, std::size_t from = 0) noexcept;

}  // namespace frontend::lexer
