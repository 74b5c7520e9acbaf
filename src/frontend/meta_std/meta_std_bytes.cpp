// Byte-string builtins. Offsets and counts are unsigned 64-bit words from
// source text, so every sum is checked before it indexes or sizes anything.

#include <algorithm>
#include <optional>

#include "common/little_endian.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/meta_std/meta_std_arguments.hpp"

namespace frontend::meta_std {

using qovrin::Error;
using qovrin::fail;
using value::Bytes;
using value::BytesValue;
using value::Value;

namespace {

qovrin::Result<std::uint8_t> byteArgument(const Value& argument) {
  const auto word = integerArgument(argument);
  if (!word) return fail(word.error());
  if (*word > 0xff) return fail(Error::InvalidApiInteger);
  return static_cast<std::uint8_t>(*word);
}

// b[0, offset) + middle + b[offset + removed, end), once the caller has
// checked that offset + removed lies within b. Added at the end, the bytes go
// after b's in the storage b shares: the result costs what it adds.
qovrin::Result<Value> splice(const BytesValue& bytes, std::uint64_t offset, std::uint64_t removed,
                             std::span<const std::uint8_t> middle) {
  const auto length = addLength(bytes.size() - removed, middle.size());
  if (!length) return fail(length.error());
  if (offset == bytes.size()) {
    Value result{BytesValue(bytes)};
    result.asBytes()->append(middle);
    return result;
  }
  Bytes result;
  result.reserve(*length);
  const auto cut = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
  result.insert(result.end(), bytes.begin(), cut);
  result.insert(result.end(), middle.begin(), middle.end());
  result.insert(result.end(), cut + static_cast<std::ptrdiff_t>(removed), bytes.end());
  return Value::bytes(std::move(result));
}

std::optional<std::uint8_t> hexDigit(char c) noexcept {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

struct BytesPair {
  const BytesValue& first;
  const BytesValue& second;
};

qovrin::Result<BytesPair> twoBytes(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto first = argumentAs<BytesValue>(arguments[0]);
  if (!first) return fail(first.error());
  const auto second = argumentAs<BytesValue>(arguments[1]);
  if (!second) return fail(second.error());
  return BytesPair{**first, **second};
}

}  // namespace

qovrin::Result<Value> evalBytesPush(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto bytes = argumentAs<BytesValue>(arguments[0]);
  if (!bytes) return fail(bytes.error());
  const auto byte = byteArgument(arguments[1]);
  if (!byte) return fail(byte.error());
  const std::uint8_t pushed[] = {*byte};
  return splice(**bytes, (*bytes)->size(), 0, pushed);
}

qovrin::Result<Value> evalBytesConcat(Arguments arguments) {
  const auto pair = twoBytes(arguments);
  if (!pair) return fail(pair.error());
  return splice(pair->first, pair->first.size(), 0, pair->second);
}

qovrin::Result<Value> evalBytesRepeat(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto count = integerArgument(arguments[0]);
  if (!count) return fail(count.error());
  const auto byte = byteArgument(arguments[1]);
  if (!byte) return fail(byte.error());
  if (*count > kMaxResultBytes) return fail(Error::OutputTooLarge);
  return Value::bytes(Bytes(*count, *byte));
}

// Bytes of the value above the width are dropped without a check.
qovrin::Result<Value> evalBytesLe(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 2));
  const auto word = integerArgument(arguments[0]);
  if (!word) return fail(word.error());
  const auto width = integerArgument(arguments[1]);
  if (!width) return fail(width.error());
  if (*width > 8) return fail(Error::InvalidApiInteger);
  Bytes result(*width);
  qovrin::writeLittleEndian(result, *word);
  return Value::bytes(std::move(result));
}

qovrin::Result<Value> evalBytesInsert(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 3));
  const auto bytes = argumentAs<BytesValue>(arguments[0]);
  if (!bytes) return fail(bytes.error());
  const auto offset = integerArgument(arguments[1]);
  if (!offset) return fail(offset.error());
  const auto inserted = argumentAs<BytesValue>(arguments[2]);
  if (!inserted) return fail(inserted.error());
  if (*offset > (*bytes)->size()) return fail(Error::InvalidArgument);
  return splice(**bytes, *offset, 0, **inserted);
}

qovrin::Result<Value> evalBytesReplace(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 4));
  const auto bytes = argumentAs<BytesValue>(arguments[0]);
  if (!bytes) return fail(bytes.error());
  const auto offset = integerArgument(arguments[1]);
  if (!offset) return fail(offset.error());
  const auto count = integerArgument(arguments[2]);
  if (!count) return fail(count.error());
  const auto with = argumentAs<BytesValue>(arguments[3]);
  if (!with) return fail(with.error());
  std::uint64_t end = 0;
  if (__builtin_add_overflow(*offset, *count, &end) || end > (*bytes)->size()) return fail(Error::InvalidArgument);
  return splice(**bytes, *offset, *count, **with);
}

qovrin::Result<Value> evalBytesEq(Arguments arguments) {
  const auto pair = twoBytes(arguments);
  if (!pair) return fail(pair.error());
  return Value::boolean(pair->first == pair->second);
}

qovrin::Result<Value> evalBytesHex(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const auto bytes = argumentAs<BytesValue>(arguments[0]);
  if (!bytes) return fail(bytes.error());
  std::string text;
  QOVRIN_TRY(appendHex(text, **bytes));
  return Value::string(std::move(text));
}

qovrin::Result<Value> evalBytesFromHex(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const auto text = argumentAs<std::string>(arguments[0]);
  if (!text) return fail(text.error());
  const std::string& digits = **text;
  if (digits.size() % 2 != 0) return fail(Error::InvalidArgument);
  Bytes result;
  result.reserve(digits.size() / 2);
  for (std::size_t index = 0; index < digits.size(); index += 2) {
    const auto high = hexDigit(digits[index]);
    const auto low = hexDigit(digits[index + 1]);
    if (!high || !low) return fail(Error::InvalidArgument);
    result.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
  }
  return Value::bytes(std::move(result));
}

}  // namespace frontend::meta_std
