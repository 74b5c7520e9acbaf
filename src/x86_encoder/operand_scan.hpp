#pragma once
// Nesting state for scanning operand text left to right: quoted text and
// parenthesised, bracketed or braced groups hide the signs inside them.

#include <array>
#include <cstddef>
#include <string_view>

#include "common/quoted_text.hpp"

namespace x86_encoder::api {

// A set of bytes that one table load tests: the scanners below step over
// most characters of an operand without comparing them one sign at a time.
class ByteSet {
 public:
  constexpr explicit ByteSet(std::string_view members) noexcept {
    for (const char c : members) bits_[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool contains(char c) const noexcept { return bits_[static_cast<unsigned char>(c)]; }

 private:
  std::array<bool, 256> bits_{};
};

// Quotes and the signs that open or close a group.
inline constexpr ByteSet kNestingSigns{"'\"()[]{}"};

class TextNesting {
 public:
  // Advances over text[at]; true when it stands at top level and is neither
  // a quote nor a bracket sign. A closing sign with nothing open is
  // remembered and otherwise ignored.
  constexpr bool step(std::string_view text, std::size_t at) noexcept {
    const char c = text[at];
    if (strings_.inString() || c == '\'' || c == '"') return strings_.outside(text, at) && depth_ == 0;
    if (!kNestingSigns.contains(c)) return depth_ == 0;
    switch (c) {
      case '(':
      case '[':
      case '{':
        ++depth_;
        return false;
      case ')':
      case ']':
      case '}':
        if (depth_ == 0)
          underflow_ = true;
        else
          --depth_;
        return false;
      default:
        return depth_ == 0;
    }
  }

  constexpr bool balanced() const noexcept { return !strings_.inString() && depth_ == 0 && !underflow_; }

 private:
  std::size_t depth_ = 0;
  qovrin::quoted_text::Cursor strings_{qovrin::quoted_text::kSource};
  bool underflow_ = false;
};

// Text without quotes or bracket signs has nothing to nest, so every sign
// stands at top level; scanners given such text skip the bookkeeping.
class FlatText {
 public:
  constexpr bool step(std::string_view, std::size_t) noexcept { return true; }
  constexpr bool balanced() const noexcept { return true; }
};

constexpr bool isFlatText(std::string_view text) noexcept {
  for (const char c : text)
    if (kNestingSigns.contains(c)) return false;
  return true;
}

}  // namespace x86_encoder::api
