#pragma once
// Splitting text into tokens, rendering tokens back into compact text, and
// matching a token sequence against a small pattern language with typed
// captures ("r:name =, v:int").

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/values/value.hpp"

namespace frontend::token_match {

inline constexpr std::size_t kMaxTokens = 256;
inline constexpr std::size_t kMaxPatternItems = 64;
inline constexpr std::size_t kMaxBracketDepth = 64;
inline constexpr std::uint32_t kMaxMatchSteps = 4096;

// Token texts in order. They borrow the text or list value they came from,
// which outlives the builtin call that uses them.
using TokenView = std::vector<std::string_view>;

enum class TokenCaptureKind : std::uint8_t { token = 0, name = 1, integer = 2, quoted = 3, tokens = 4 };

struct PatternItem {
  std::string_view text;  // the literal, or the capture's name
  TokenCaptureKind kind = TokenCaptureKind::token;
  bool capture = false;
};

struct Capture {
  std::string_view name;
  value::Value value;
};

// Width (1 or 2) of the operator at the start of text, if one starts there.
std::optional<std::size_t> operatorWidth(std::string_view text) noexcept;

// Tokens that render without a space on either side ("a+b", "x.y").
bool isTightRenderToken(std::string_view token) noexcept;

// The tokens of a text: quoted tokens (kept with their quotes and
// backslashes), operators and words; blanks separate. An unterminated quote
// or more than kMaxTokens tokens: InvalidArgument.
qovrin::Result<TokenView> tokenize(std::string_view text);

// The tokens of a string (tokenized) or of a list of strings (one token per
// element, unchanged); any other kind: TypeMismatch.
qovrin::Result<TokenView> inputView(const value::Value& input);

// The elements of a list whose elements are all strings, else TypeMismatch.
qovrin::Result<TokenView> listStringView(const value::Value& list);

// A list value holding a string copy of each token.
qovrin::Result<value::Value> tokensToListValue(const TokenView& tokens);

// Tokens joined with one space wherever neither neighbour binds tightly.
qovrin::Result<std::string> renderTokens(const TokenView& tokens);

// Pattern words turned into items: "=text" is a literal, "name:kind" a
// capture; anything else, more than kMaxPatternItems words or a repeated
// capture name is InvalidArgument.
qovrin::Result<std::vector<PatternItem>> compilePattern(std::span<const std::string_view> words);

// The value a single token gives as a capture of that kind, or none when the
// token does not fit it ("tokens" captures are spans, not single tokens).
std::optional<value::Value> captureSingleToken(TokenCaptureKind kind, std::string_view token);

// Whether items[item...] match exactly tokens[token...], appending the
// captures on success. steps counts the calls of one whole match; past
// kMaxMatchSteps the match fails with InvalidArgument.
qovrin::Result<bool> matchFrom(std::span<const PatternItem> items, std::span<const std::string_view> tokens,
                               std::size_t item, std::size_t token, std::vector<Capture>& captures,
                               std::uint32_t& steps);

}  // namespace frontend::token_match
