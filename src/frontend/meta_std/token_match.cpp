#include "frontend/meta_std/token_match.hpp"

#include <algorithm>
#include <array>

#include "common/ascii.hpp"
#include "common/name_table.hpp"

namespace frontend::token_match {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

// Tested in this order, before the one-byte operators.
constexpr std::array<std::string_view, 11> kTwoByteOperators = {"==", "!=", "<=", ">=", "&&", "||",
                                                                "<<", ">>", "->", "=>", "::"};
constexpr std::string_view kOneByteOperators = "!%&()*+,-./:;<=>?[]^{|}~";

constexpr std::array<std::string_view, 23> kTightTokens = {
    ".",  ":", "=", "==", "!=", "<", ">", "<=", ">=", "&&", "||", "<<",
    ">>", "+", "-", "*",  "/",  "%", "&", "|",  "^",  "~",  "!"};

constexpr std::array<std::string_view, 5> kCaptureKindNames = {"token", "name", "int", "quoted", "tokens"};

// Space, tab, line feed, vertical tab, form feed, carriage return.
constexpr bool isTokenBlank(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool isQuote(char c) noexcept { return c == '\'' || c == '"'; }

constexpr bool isPlainName(std::string_view text) noexcept {
  if (text.empty() || !(qovrin::isAsciiLetter(text[0]) || text[0] == '_')) return false;
  return std::ranges::all_of(text,
                             [](char c) { return qovrin::isAsciiLetter(c) || qovrin::isAsciiDigit(c) || c == '_'; });
}

std::optional<std::uint64_t> digitValue(char c) noexcept {
  if (qovrin::isAsciiDigit(c)) return static_cast<std::uint64_t>(c - '0');
  const char lower = qovrin::lowerAscii(c);
  if (lower >= 'a' && lower <= 'f') return static_cast<std::uint64_t>(lower - 'a' + 10);
  return std::nullopt;
}

// An unsigned literal: optional '+' (or '-' for zero alone), an optional
// 0x/0o/0b prefix, digits of the base with single '_' between them.
std::optional<std::uint64_t> parseCapturedInteger(std::string_view text) noexcept {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::uint64_t base = 10;
  if (text.size() >= 2 && text[0] == '0') {
    const char letter = qovrin::lowerAscii(text[1]);
    base = letter == 'x' ? 16 : letter == 'o' ? 8 : letter == 'b' ? 2 : 10;
    if (base != 10) text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t word = 0;
  bool after_digit = false;
  for (std::size_t index = 0; index < text.size(); ++index) {
    if (text[index] == '_') {
      if (!after_digit || index + 1 == text.size()) return std::nullopt;
      after_digit = false;
      continue;
    }
    const auto digit = digitValue(text[index]);
    if (!digit || *digit >= base) return std::nullopt;
    if (__builtin_mul_overflow(word, base, &word) || __builtin_add_overflow(word, *digit, &word)) return std::nullopt;
    after_digit = true;
  }
  if (negative && word != 0) return std::nullopt;
  return word;
}

std::string unquote(std::string_view body) {
  std::string text;
  text.reserve(body.size());
  for (std::size_t index = 0; index < body.size(); ++index) {
    char c = body[index];
    if (c == '\\' && index + 1 < body.size()) {
      c = body[++index];
      c = c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    text += c;
  }
  return text;
}

// The closing partner of a one-byte opening bracket token, else 0.
char closerOf(std::string_view token) noexcept {
  if (token.size() != 1) return 0;
  return token[0] == '(' ? ')' : token[0] == '[' ? ']' : token[0] == '{' ? '}' : 0;
}

bool isCloser(std::string_view token) noexcept {
  return token.size() == 1 && (token[0] == ')' || token[0] == ']' || token[0] == '}');
}

// Tries the spans [token, end) shortest first for a "tokens" capture. A span
// whose brackets went wrong stays wrong for every longer one, so the bracket
// stack grows with the span instead of being rebuilt for each.
qovrin::Result<bool> matchTokenSpan(std::span<const PatternItem> items, std::span<const std::string_view> tokens,
                                    std::size_t item, std::size_t token, std::vector<Capture>& captures,
                                    std::uint32_t& steps) {
  std::array<char, kMaxBracketDepth> open{};
  std::size_t depth = 0;
  const std::size_t saved = captures.size();
  for (std::size_t end = token;; ++end) {
    if (depth == 0) {
      std::vector<Value> copies;
      copies.reserve(end - token);
      for (std::size_t index = token; index < end; ++index) copies.push_back(Value::string(std::string(tokens[index])));
      auto list = value::ListValue::make(std::move(copies));
      if (!list) return fail(list.error());
      captures.push_back(Capture{items[item].text, Value(std::move(*list))});
      const auto matched = matchFrom(items, tokens, item + 1, end, captures, steps);
      if (!matched || *matched) return matched;
      captures.resize(saved);
    }
    if (end == tokens.size()) return false;
    const std::string_view next = tokens[end];
    if (const char closer = closerOf(next)) {
      if (depth == kMaxBracketDepth) return false;
      open[depth++] = closer;
    } else if (isCloser(next)) {
      if (depth == 0 || open[depth - 1] != next[0]) return false;
      --depth;
    }
  }
}

}  // namespace

std::optional<std::size_t> operatorWidth(std::string_view text) noexcept {
  if (text.size() >= 2 && std::ranges::find(kTwoByteOperators, text.substr(0, 2)) != kTwoByteOperators.end()) return 2;
  if (!text.empty() && qovrin::isOneOf(text[0], kOneByteOperators)) return 1;
  return std::nullopt;
}

bool isTightRenderToken(std::string_view token) noexcept {
  return std::ranges::find(kTightTokens, token) != kTightTokens.end();
}

qovrin::Result<TokenView> tokenize(std::string_view text) {
  TokenView tokens;
  std::size_t position = 0;
  while (position < text.size()) {
    const char c = text[position];
    if (isTokenBlank(c)) {
      ++position;
      continue;
    }
    std::size_t end = position + 1;
    if (isQuote(c)) {
      while (end < text.size() && text[end] != c) end += text[end] == '\\' ? 2 : 1;
      if (end >= text.size()) return fail(Error::InvalidArgument);
      ++end;
    } else if (const auto width = operatorWidth(text.substr(position))) {
      end = position + *width;
    } else {
      while (end < text.size() && !isTokenBlank(text[end]) && !isQuote(text[end]) && !operatorWidth(text.substr(end)))
        ++end;
    }
    if (tokens.size() == kMaxTokens) return fail(Error::InvalidArgument);
    tokens.push_back(text.substr(position, end - position));
    position = end;
  }
  return tokens;
}

qovrin::Result<TokenView> inputView(const Value& input) {
  if (const auto* text = input.asString()) return tokenize(*text);
  return listStringView(input);
}

qovrin::Result<TokenView> listStringView(const Value& list) {
  const auto* items = list.asList();
  if (items == nullptr) return fail(Error::TypeMismatch);
  TokenView tokens;
  tokens.reserve(items->size());
  for (const Value& item : items->items()) {
    const auto* text = item.asString();
    if (text == nullptr) return fail(Error::TypeMismatch);
    tokens.push_back(*text);
  }
  return tokens;
}

qovrin::Result<Value> tokensToListValue(const TokenView& tokens) {
  std::vector<Value> items;
  items.reserve(tokens.size());
  for (const std::string_view token : tokens) items.push_back(Value::string(std::string(token)));
  auto list = value::ListValue::make(std::move(items));
  if (!list) return fail(list.error());
  return Value(std::move(*list));
}

qovrin::Result<std::string> renderTokens(const TokenView& tokens) {
  const auto spaced = [&tokens](std::size_t index) {
    const std::string_view previous = tokens[index - 1];
    const std::string_view next = tokens[index];
    const bool after_opener = closerOf(previous) != 0;
    const bool before_closer = isCloser(next) || next == "," || next == ";";
    return !after_opener && !before_closer && !isTightRenderToken(previous) && !isTightRenderToken(next);
  };
  std::uint64_t length = 0;
  for (std::size_t index = 0; index < tokens.size(); ++index) {
    const std::uint64_t added = tokens[index].size() + (index > 0 && spaced(index) ? 1 : 0);
    if (__builtin_add_overflow(length, added, &length)) return fail(Error::OutputTooLarge);
  }
  std::string text;
  text.reserve(length);
  for (std::size_t index = 0; index < tokens.size(); ++index) {
    if (index > 0 && spaced(index)) text += ' ';
    text += tokens[index];
  }
  return text;
}

qovrin::Result<std::vector<PatternItem>> compilePattern(std::span<const std::string_view> words) {
  if (words.size() > kMaxPatternItems) return fail(Error::InvalidArgument);
  std::vector<PatternItem> items;
  items.reserve(words.size());
  for (const std::string_view word : words) {
    if (word.starts_with('=')) {
      if (word.size() == 1) return fail(Error::InvalidArgument);
      items.push_back(PatternItem{word.substr(1), TokenCaptureKind::token, false});
      continue;
    }
    const std::size_t colon = word.find(':');
    if (colon == std::string_view::npos) return fail(Error::InvalidArgument);
    const std::string_view name = word.substr(0, colon);
    const auto kind = qovrin::indexOfName(kCaptureKindNames, word.substr(colon + 1));
    if (!isPlainName(name) || !kind) return fail(Error::InvalidArgument);
    const bool taken =
        std::ranges::any_of(items, [name](const PatternItem& other) { return other.capture && other.text == name; });
    if (taken) return fail(Error::InvalidArgument);
    items.push_back(PatternItem{name, static_cast<TokenCaptureKind>(*kind), true});
  }
  return items;
}

std::optional<Value> captureSingleToken(TokenCaptureKind kind, std::string_view token) {
  switch (kind) {
    case TokenCaptureKind::token:
      return Value::string(std::string(token));
    case TokenCaptureKind::name:
      if (!isPlainName(token)) return std::nullopt;
      return Value::string(std::string(token));
    case TokenCaptureKind::integer:
      if (const auto word = parseCapturedInteger(token)) return Value::integer(*word);
      return std::nullopt;
    case TokenCaptureKind::quoted:
      if (token.size() < 2 || !isQuote(token.front()) || token.back() != token.front()) return std::nullopt;
      return Value::string(unquote(token.substr(1, token.size() - 2)));
    case TokenCaptureKind::tokens:
      break;
  }
  return std::nullopt;
}

qovrin::Result<bool> matchFrom(std::span<const PatternItem> items, std::span<const std::string_view> tokens,
                               std::size_t item, std::size_t token, std::vector<Capture>& captures,
                               std::uint32_t& steps) {
  if (++steps > kMaxMatchSteps) return fail(Error::InvalidArgument);
  if (item == items.size()) return token == tokens.size();
  const PatternItem& current = items[item];
  if (!current.capture) {
    if (token == tokens.size() || tokens[token] != current.text) return false;
    return matchFrom(items, tokens, item + 1, token + 1, captures, steps);
  }
  if (current.kind == TokenCaptureKind::tokens) return matchTokenSpan(items, tokens, item, token, captures, steps);
  if (token == tokens.size()) return false;
  auto captured = captureSingleToken(current.kind, tokens[token]);
  if (!captured) return false;
  const std::size_t saved = captures.size();
  captures.push_back(Capture{current.text, std::move(*captured)});
  const auto matched = matchFrom(items, tokens, item + 1, token + 1, captures, steps);
  if (matched && !*matched) captures.resize(saved);
  return matched;
}

}  // namespace frontend::token_match
