// Token builtins: tokens.of, tokens.join and match.tokens.

#include "common/ascii.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/meta_std/meta_std_arguments.hpp"
#include "frontend/meta_std/token_match.hpp"

namespace frontend::meta_std {

using qovrin::Error;
using qovrin::fail;
using token_match::TokenView;
using value::Value;

namespace {

constexpr std::string_view kPatternBlanks = " \t\r\n";

// The words of a pattern string, split at runs of blanks, or the elements of
// a list of strings as they are.
qovrin::Result<TokenView> patternWords(const Value& pattern) {
  const auto* text = pattern.asString();
  if (text == nullptr) return token_match::listStringView(pattern);
  TokenView words;
  std::string_view rest = *text;
  while (!(rest = qovrin::trim(rest, kPatternBlanks)).empty()) {
    std::size_t end = 0;
    while (end < rest.size() && !qovrin::isOneOf(rest[end], kPatternBlanks)) ++end;
    words.push_back(rest.substr(0, end));
    rest.remove_prefix(end);
  }
  return words;
}

qovrin::Result<Value> matchResult(bool ok, std::vector<token_match::Capture>&& captures) {
  value::MapValue captured;
  for (auto& capture : captures) QOVRIN_TRY(captured.set(capture.name, std::move(capture.value)));
  value::MapValue result;
  QOVRIN_TRY(result.set("ok", Value::boolean(ok)));
  QOVRIN_TRY(result.set("captures", Value(std::move(captured))));
  return Value(std::move(result));
}

}  // namespace

qovrin::Result<Value> evalTokensOf(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const auto tokens = token_match::inputView(arguments[0]);
  if (!tokens) return fail(tokens.error());
  return token_match::tokensToListValue(*tokens);
}

qovrin::Result<Value> evalTokensJoin(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const auto tokens = token_match::listStringView(arguments[0]);
  if (!tokens) return fail(tokens.error());
  auto text = token_match::renderTokens(*tokens);
  if (!text) return fail(text.error());
  return Value::string(std::move(*text));
}

qovrin::Result<Value> evalMatchTokens(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto words = patternWords(arguments[0]);
  if (!words) return fail(words.error());
  if (words->size() > token_match::kMaxPatternItems) return fail(Error::InvalidArgument);
  const auto tokens = token_match::inputView(arguments[1]);
  if (!tokens) return fail(tokens.error());
  if (tokens->size() > token_match::kMaxTokens) return fail(Error::InvalidArgument);
  const auto items = token_match::compilePattern(*words);
  if (!items) return fail(items.error());
  std::vector<token_match::Capture> captures;
  std::uint32_t steps = 0;
  const auto matched = token_match::matchFrom(*items, *tokens, 0, 0, captures, steps);
  if (!matched) return fail(matched.error());
  if (!*matched) captures.clear();
  return matchResult(*matched, std::move(captures));
}

}  // namespace frontend::meta_std
