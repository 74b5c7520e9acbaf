// String builtins and the text of scalar values.

#include <algorithm>
#include <charconv>
#include <string_view>

#include "common/ascii.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/meta_std/meta_std_arguments.hpp"

namespace frontend::meta_std {

using qovrin::Error;
using qovrin::fail;
using value::Value;
using value::ValueKind;

namespace {

// Blanks of "trim"; vertical tab and form feed are not among them.
constexpr std::string_view kTrimBlanks = " \t\r\n";

struct TextPair {
  std::string_view text;
  std::string_view other;
};

// Two string arguments, as the searching builtins take them.
qovrin::Result<TextPair> twoStrings(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto text = argumentAs<std::string>(arguments[0]);
  if (!text) return fail(text.error());
  const auto other = argumentAs<std::string>(arguments[1]);
  if (!other) return fail(other.error());
  return TextPair{**text, **other};
}

// Non-overlapping occurrences of a non-empty needle, left to right.
std::size_t countOccurrences(std::string_view text, std::string_view needle) noexcept {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size()))
    ++count;
  return count;
}

}  // namespace

qovrin::Status appendValueText(std::string& out, const Value& value) {
  switch (value.kind()) {
    case ValueKind::void_:
      out += "void";
      return {};
    case ValueKind::integer: {
      char digits[20];
      const auto end = std::to_chars(std::begin(digits), std::end(digits), value.asInteger()->word).ptr;
      out.append(digits, end);
      return {};
    }
    case ValueKind::float32:
      value::appendFloatLiteral(out, *value.getIf<float>());
      return {};
    case ValueKind::float64:
      value::appendFloatLiteral(out, *value.getIf<double>());
      return {};
    case ValueKind::boolean:
      out += *value.getIf<bool>() ? "true" : "false";
      return {};
    case ValueKind::string:
      QOVRIN_TRY(addLength(out.size(), value.asString()->size()));
      out += *value.asString();
      return {};
    case ValueKind::bytes:
      return appendHex(out, *value.asBytes());
    case ValueKind::type:
      out += "type#";
      return appendValueText(out, Value::integer(value.getIf<value::TypeValue>()->id));
    default:
      return fail(Error::TypeMismatch);
  }
}

qovrin::Status appendHex(std::string& out, std::span<const std::uint8_t> bytes) {
  const auto doubled = addLength(bytes.size(), bytes.size());
  if (!doubled) return fail(doubled.error());
  QOVRIN_TRY(addLength(out.size(), *doubled));
  constexpr std::string_view kDigits = "0123456789abcdef";
  out.reserve(out.size() + *doubled);
  for (const std::uint8_t byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xf];
  }
  return {};
}

qovrin::Result<std::string> valueToString(const Value& value) {
  std::string text;
  QOVRIN_TRY(appendValueText(text, value));
  return text;
}

qovrin::Result<Value> evalToString(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 1));
  auto text = valueToString(arguments[0]);
  if (!text) return fail(text.error());
  return Value::string(std::move(*text));
}

qovrin::Result<Value> evalTrim(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const auto text = argumentAs<std::string>(arguments[0]);
  if (!text) return fail(text.error());
  return Value::string(std::string(qovrin::trim(**text, kTrimBlanks)));
}

qovrin::Result<Value> evalAsciiCase(Arguments arguments, bool upper) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const auto text = argumentAs<std::string>(arguments[0]);
  if (!text) return fail(text.error());
  std::string result = **text;
  const char first = upper ? 'a' : 'A';
  for (char& c : result)
    if (c >= first && c <= first + 25) c = static_cast<char>(c + (upper ? 'A' - 'a' : 'a' - 'A'));
  return Value::string(std::move(result));
}

qovrin::Result<Value> evalStartsWith(Arguments arguments) {
  const auto pair = twoStrings(arguments);
  if (!pair) return fail(pair.error());
  return Value::boolean(pair->text.starts_with(pair->other));
}

qovrin::Result<Value> evalEndsWith(Arguments arguments) {
  const auto pair = twoStrings(arguments);
  if (!pair) return fail(pair.error());
  return Value::boolean(pair->text.ends_with(pair->other));
}

// A string in a string, or bytes in bytes; never one kind in the other.
qovrin::Result<Value> evalContains(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const ValueKind kind = arguments[0].kind();
  if ((kind != ValueKind::string && kind != ValueKind::bytes) || arguments[1].kind() != kind)
    return fail(Error::TypeMismatch);
  if (kind == ValueKind::string)
    return Value::boolean(arguments[0].asString()->find(*arguments[1].asString()) != std::string::npos);
  const auto& haystack = *arguments[0].asBytes();
  const auto& needle = *arguments[1].asBytes();
  return Value::boolean(needle.empty() || !std::ranges::search(haystack, needle).empty());
}

qovrin::Result<Value> evalReplace(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 3));
  std::string_view parts[3];
  for (std::size_t index = 0; index < 3; ++index) {
    const auto text = argumentAs<std::string>(arguments[index]);
    if (!text) return fail(text.error());
    parts[index] = **text;
  }
  const auto [text, from, to] = parts;
  if (from.empty()) return fail(Error::InvalidArgument);
  const std::uint64_t count = countOccurrences(text, from);
  std::uint64_t added = 0;
  if (__builtin_mul_overflow(count, to.size(), &added)) return fail(Error::OutputTooLarge);
  const auto length = addLength(text.size() - count * from.size(), added);
  if (!length) return fail(length.error());
  std::string result;
  result.reserve(*length);
  std::size_t start = 0;
  for (std::size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, start)) {
    result.append(text.substr(start, at - start));
    result.append(to);
    start = at + from.size();
  }
  result.append(text.substr(start));
  return Value::string(std::move(result));
}

qovrin::Result<Value> evalSplit(Arguments arguments) {
  const auto pair = twoStrings(arguments);
  if (!pair) return fail(pair.error());
  const auto [text, separator] = *pair;
  if (separator.empty()) return fail(Error::InvalidArgument);
  std::vector<Value> pieces;
  pieces.reserve(countOccurrences(text, separator) + 1);
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string_view::npos; at = text.find(separator, start)) {
    pieces.push_back(Value::string(std::string(text.substr(start, at - start))));
    start = at + separator.size();
  }
  pieces.push_back(Value::string(std::string(text.substr(start))));
  return listOf(std::move(pieces));
}

// Every element's kind and the whole length are checked before the text is
// built.
qovrin::Result<Value> evalJoin(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto list = argumentAs<value::ListValue>(arguments[0]);
  if (!list) return fail(list.error());
  const auto separator = argumentAs<std::string>(arguments[1]);
  if (!separator) return fail(separator.error());
  const auto items = (*list)->items();
  std::uint64_t length = 0;
  for (std::size_t index = 0; index < items.size(); ++index) {
    const auto* text = items[index].asString();
    if (text == nullptr) return fail(Error::TypeMismatch);
    const auto sum = addLength(length, text->size() + (index == 0 ? 0 : (*separator)->size()));
    if (!sum) return fail(sum.error());
    length = *sum;
  }
  std::string result;
  result.reserve(length);
  for (std::size_t index = 0; index < items.size(); ++index) {
    if (index != 0) result += **separator;
    result += *items[index].asString();
  }
  return Value::string(std::move(result));
}

qovrin::Result<Value> evalSymJoin(Arguments arguments) {
  std::string result;
  for (const Value& argument : arguments) QOVRIN_TRY(appendValueText(result, argument));
  result.shrink_to_fit();
  return Value::string(std::move(result));
}

qovrin::Result<Value> joinOntoFirst(std::vector<Value>& arguments) {
  std::string* text = arguments.empty() ? nullptr : arguments[0].getIf<std::string>();
  if (text == nullptr) return evalSymJoin(arguments);
  QOVRIN_TRY(addLength(0, text->size()));
  const std::size_t kept = text->size();
  for (const Value& argument : std::span(arguments).subspan(1)) {
    if (const auto appended = appendValueText(*text, argument); !appended) {
      text->resize(kept);
      return fail(appended.error());
    }
  }
  return std::move(arguments[0]);
}

}  // namespace frontend::meta_std
