// JSON text into meta values, through the JSON library's event interface so
// that key order, repeated keys and number kinds follow the meta language's
// rules rather than the library's defaults.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/ascii.hpp"
#include "frontend/meta_std/meta_data_eval.hpp"

namespace frontend::meta_data {
namespace {

using qovrin::Error;
using value::ListValue;
using value::MapValue;
using value::Value;
using Json = nlohmann::json;

// Builds the value while the reader walks the text. A reader failure stops
// the walk; a value that has no meta form is remembered (the first one in
// document order) and replaced by void, so that the rest of the text is still
// checked and reader failures anywhere take precedence.
class ValueBuilder {
 public:
  explicit ValueBuilder(std::size_t text_size) : text_size_(text_size) {}

  bool null() { return add(Value()); }
  bool boolean(bool truth) { return add(Value::boolean(truth)); }
  // The reader reports a leading "-" through this call, so zero here is -0.
  bool number_integer(Json::number_integer_t number) {
    return refuse(number == 0 ? Error::TypeMismatch : Error::InvalidApiInteger);
  }
  bool number_unsigned(Json::number_unsigned_t number) {
    if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return refuse(Error::TypeMismatch);
    return add(Value::integer(number));
  }
  bool number_float(Json::number_float_t, const Json::string_t&) { return refuse(Error::TypeMismatch); }
  bool string(Json::string_t& text) { return add(Value::string(std::move(text))); }
  bool binary(Json::binary_t&) { return stop(Error::SyntaxError); }

  bool start_object(std::size_t) { return open(true); }
  bool key(Json::string_t& key) {
    Frame& frame = frames_.back();
    if (frame.map.find(key) != nullptr) return stop(Error::DuplicateField);
    frame.key = std::move(key);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(false); }
  bool end_array() { return close(); }

  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& exception) {
    number_overflow_ = exception.id == kNumberOverflow;
    stopped_at_ = position == 0 ? 0 : std::min(position - 1, text_size_);
    // The reader counts the end of the text as one more byte read.
    return stop(position > text_size_ ? Error::UnexpectedEndOfInput : Error::SyntaxError);
  }

  std::optional<Error> readerError() const noexcept { return reader_error_; }
  // Whether the reader stopped at a number too large for a double, which it
  // refuses although the text is valid JSON.
  bool numberOverflow() const noexcept { return number_overflow_; }
  // The offset of the byte the reader stopped at.
  std::optional<std::size_t> stoppedAt() const noexcept { return stopped_at_; }

  qovrin::Result<Value> finish() {
    if (reader_error_) return qovrin::fail(*reader_error_);
    if (value_error_) return qovrin::fail(*value_error_);
    if (!result_) return qovrin::fail(Error::UnexpectedEndOfInput);
    return std::move(*result_);
  }

 private:
  struct Frame {
    bool is_object = false;
    ListValue list;
    MapValue map;
    std::string key;
  };

  bool stop(Error error) {
    if (!reader_error_) reader_error_ = error;
    return false;
  }

  bool refuse(Error error) {
    if (!value_error_) value_error_ = error;
    return add(Value());
  }

  bool add(Value&& item) {
    if (frames_.empty()) {
      result_ = std::move(item);
      return true;
    }
    Frame& frame = frames_.back();
    const auto added = frame.is_object ? frame.map.set(frame.key, std::move(item)) : frame.list.push(std::move(item));
    return added ? true : stop(added.error());
  }

  bool open(bool is_object) {
    if (frames_.size() >= kMaxJsonDepth) return stop(Error::NestingTooDeep);
    frames_.push_back(Frame{is_object, {}, {}, {}});
    return true;
  }

  bool close() {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    return add(frame.is_object ? Value(std::move(frame.map)) : Value(std::move(frame.list)));
  }

  // The reader's error id for a number that overflows a double.
  static constexpr int kNumberOverflow = 406;

  std::size_t text_size_;
  bool number_overflow_ = false;
  std::optional<std::size_t> stopped_at_;
  std::vector<Frame> frames_;
  std::optional<Value> result_;
  std::optional<Error> reader_error_;
  std::optional<Error> value_error_;
};

// The length of the JSON number at the start of text, or 0 when none starts
// there: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
std::size_t numberLength(std::string_view text) noexcept {
  std::size_t at = text.starts_with('-') ? 1 : 0;
  const auto digits = [&text, &at] {
    const std::size_t start = at;
    while (at < text.size() && qovrin::isAsciiDigit(text[at])) ++at;
    return at - start;
  };
  if (at == text.size() || !qovrin::isAsciiDigit(text[at])) return 0;
  if (text[at] == '0')
    ++at;
  else
    digits();
  if (at < text.size() && text[at] == '.' && (++at, digits() == 0)) return 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (digits() == 0) return 0;
  }
  return at;
}

// The text with every number that has no meta form whatever its value (one
// with a fraction or an exponent, or an integer of 20 digits or more, past
// the signed 64-bit range) written as 0.0 padded with blanks: the reader
// maps it to the same refusal without overflowing, and every other byte,
// and so every syntax error, stays where it was. Only whole number tokens
// outside strings are replaced.
std::string withFiniteNumbers(std::string_view text) {
  std::string out(text);
  bool in_string = false;
  std::size_t at = 0;
  while (at < out.size()) {
    const char c = out[at];
    if (in_string) {
      in_string = c != '"';
      at += c == '\\' ? 2 : 1;
      continue;
    }
    in_string = c == '"';
    const bool starts_token = at == 0 || qovrin::isOneOf(out[at - 1], "[{,: \t\r\n");
    const std::size_t length = starts_token ? numberLength(std::string_view(out).substr(at)) : 0;
    const std::size_t end = at + length;
    if (length == 0 || (end < out.size() && !qovrin::isOneOf(out[end], "]}, \t\r\n"))) {
      ++at;
      continue;
    }
    const std::string_view number = std::string_view(out).substr(at, length);
    if (number.find_first_of(".eE") != std::string_view::npos ||
        std::ranges::count_if(number, qovrin::isAsciiDigit) >= 20)
      out.replace(at, length, std::string("0.0").append(length - 3, ' '));
    at = end;
  }
  return out;
}

ValueBuilder readJson(std::string_view text) {
  ValueBuilder builder(text.size());
  Json::sax_parse(text.begin(), text.end(), &builder);
  return builder;
}

}  // namespace

qovrin::Result<Value> parseJsonValue(std::string_view text) {
  // The reader takes a NUL byte for the end of the text, which would accept
  // whatever follows it; no JSON text holds one, so it is a syntax error
  // unless the text before it fails first.
  const std::size_t nul = text.find('\0');
  const std::string_view readable = text.substr(0, nul);
  ValueBuilder builder = readJson(readable);
  if (builder.numberOverflow()) builder = readJson(withFiniteNumbers(readable));
  if (nul == std::string_view::npos) return builder.finish();
  const auto reader_error = builder.readerError();
  return qovrin::fail(reader_error && *reader_error != Error::UnexpectedEndOfInput ? *reader_error : Error::SyntaxError);
}

std::optional<std::size_t> jsonStopOffset(std::string_view text) {
  const std::size_t nul = text.find('\0');
  const std::string_view readable = text.substr(0, nul);
  ValueBuilder builder = readJson(readable);
  if (builder.numberOverflow()) builder = readJson(withFiniteNumbers(readable));
  if (builder.readerError() && builder.stoppedAt()) return builder.stoppedAt();
  if (nul != std::string_view::npos) return nul;
  return std::nullopt;
}

}  // namespace frontend::meta_data
