// The file builtins and the text readers that take inline text or a file.

#include <algorithm>
#include <string>
#include <utility>

#include "frontend/meta_std/meta_byte_input.hpp"
#include "frontend/meta_std/meta_data_eval.hpp"
#include "frontend/meta_std/meta_std.hpp"

namespace frontend::meta_data {
namespace {

using qovrin::Error;
using qovrin::fail;
using value::Value;

bool filesAvailable(FileHooks hooks) noexcept { return hooks != nullptr && hooks->available; }

// The path argument of a builtin that reads the file system, after the count
// and the availability of files are checked.
qovrin::Result<std::string_view> pathArgument(Arguments arguments, std::size_t min_count, std::size_t max_count,
                                              FileHooks hooks) {
  if (arguments.size() < min_count || arguments.size() > max_count) return fail(Error::InvalidArgument);
  if (!filesAvailable(hooks)) return fail(Error::FileNotAvailable);
  const auto* path = arguments[0].asString();
  if (path == nullptr) return fail(Error::TypeMismatch);
  return std::string_view(*path);
}

// No file becomes a value longer than any other builtin result may be.
qovrin::Result<std::string> readText(std::string_view path, FileHooks hooks,
                                     std::optional<ByteWindow> window = std::nullopt,
                                     std::uint64_t limit = meta_std::kMaxResultBytes) {
  if (!hooks->read) return fail(Error::FileNotAvailable);
  return hooks->read(path, hooks->base_path, window, limit);
}

// fs.exists and fs.is_dir: false, not a failure, whenever the answer cannot
// be had.
qovrin::Result<Value> askPredicate(Arguments arguments, FileHooks hooks,
                                   const meta_io::MetaFileHooks::Predicate meta_io::MetaFileHooks::*predicate) {
  if (arguments.size() != 1) return fail(Error::InvalidArgument);
  if (!filesAvailable(hooks)) return Value::boolean(false);
  const auto* path = arguments[0].asString();
  if (path == nullptr) return fail(Error::TypeMismatch);
  const auto& ask = hooks->*predicate;
  if (!ask) return Value::boolean(false);
  const auto answer = ask(*path, hooks->base_path);
  if (!answer) return fail(answer.error());
  return Value::boolean(*answer);
}

using TextReader = qovrin::Result<Value> (*)(std::string_view text);

// Text given as a string or bytes.
qovrin::Result<Value> readInlineText(Arguments arguments, TextReader reader) {
  if (arguments.size() != 1) return fail(Error::InvalidArgument);
  const auto text = meta_std::byteInputOf(arguments[0]);
  if (!text) return fail(Error::TypeMismatch);
  return reader(*text);
}

qovrin::Result<Value> tomlTextToValue(std::string_view text) {
  const auto document = data::toml_parser::parse(text);
  if (!document) return fail(document.error());
  return tomlNodeToValue(document->root);
}

qovrin::Result<Value> readFileText(Arguments arguments, FileHooks hooks, TextReader reader) {
  const auto path = pathArgument(arguments, 1, 1, hooks);
  if (!path) return fail(path.error());
  const auto content = readText(*path, hooks);
  if (!content) return fail(content.error());
  return reader(*content);
}

}  // namespace

qovrin::Result<value::Bytes> readBytes(const meta_io::MetaFileHooks& hooks, std::string_view name,
                                       std::optional<ByteWindow> window, std::uint64_t limit) {
  // Only the window is read, so a window of a huge file costs its length.
  const auto content = readText(name, &hooks, window, limit);
  if (!content) return fail(content.error());
  if (window && content->size() != window->length) return fail(Error::FileNotAvailable);
  const auto* first = reinterpret_cast<const std::uint8_t*>(content->data());
  return value::Bytes(first, first + content->size());
}

qovrin::Result<Value> evalFsExists(Arguments arguments, FileHooks hooks) {
  return askPredicate(arguments, hooks, &meta_io::MetaFileHooks::exists);
}

qovrin::Result<Value> evalFsIsDir(Arguments arguments, FileHooks hooks) {
  return askPredicate(arguments, hooks, &meta_io::MetaFileHooks::is_directory);
}

qovrin::Result<Value> evalFsReadText(Arguments arguments, FileHooks hooks) {
  const auto path = pathArgument(arguments, 1, 1, hooks);
  if (!path) return fail(path.error());
  auto content = readText(*path, hooks);
  if (!content) return fail(content.error());
  return Value::string(std::move(*content));
}

qovrin::Result<Value> evalFsReadBytes(Arguments arguments, FileHooks hooks) {
  if (arguments.size() == 2) return fail(Error::InvalidArgument);
  const auto path = pathArgument(arguments, 1, 3, hooks);
  if (!path) return fail(path.error());
  std::optional<ByteWindow> window;
  if (arguments.size() == 3) {
    const auto* offset = arguments[1].asInteger();
    const auto* length = arguments[2].asInteger();
    if (offset == nullptr || length == nullptr) return fail(Error::TypeMismatch);
    window = ByteWindow{offset->word, length->word};
  }
  auto content = readBytes(*hooks, *path, window, meta_std::kMaxResultBytes);
  if (!content) return fail(content.error());
  return Value::bytes(std::move(*content));
}

qovrin::Result<Value> evalFsListDir(Arguments arguments, FileHooks hooks) {
  const auto path = pathArgument(arguments, 1, 1, hooks);
  if (!path) return fail(path.error());
  if (!hooks->list) return fail(Error::FileNotAvailable);
  auto listing = hooks->list(*path, hooks->base_path);
  if (!listing) return fail(listing.error());
  // std::string orders by unsigned bytes: "B" < "a" < "a.txt".
  std::stable_sort(listing->begin(), listing->end());
  value::ListValue names;
  names.reserve(listing->size());
  for (std::string& name : *listing) QOVRIN_TRY(names.push(Value::string(std::move(name))));
  return Value(std::move(names));
}

qovrin::Result<Value> evalTomlParse(Arguments arguments) { return readInlineText(arguments, tomlTextToValue); }

qovrin::Result<Value> evalTomlFile(Arguments arguments, FileHooks hooks) {
  return readFileText(arguments, hooks, tomlTextToValue);
}

qovrin::Result<Value> evalJsonParse(Arguments arguments) { return readInlineText(arguments, parseJsonValue); }

qovrin::Result<Value> evalJsonFile(Arguments arguments, FileHooks hooks) {
  return readFileText(arguments, hooks, parseJsonValue);
}

qovrin::Result<Value> evalDataBuiltin(MetaDataBuiltin builtin, Arguments arguments, FileHooks hooks) {
  switch (builtin) {
    case MetaDataBuiltin::fs_exists: return evalFsExists(arguments, hooks);
    case MetaDataBuiltin::fs_read_text: return evalFsReadText(arguments, hooks);
    case MetaDataBuiltin::fs_read_bytes: return evalFsReadBytes(arguments, hooks);
    case MetaDataBuiltin::fs_list_dir: return evalFsListDir(arguments, hooks);
    case MetaDataBuiltin::fs_is_dir: return evalFsIsDir(arguments, hooks);
    case MetaDataBuiltin::toml_parse: return evalTomlParse(arguments);
    case MetaDataBuiltin::toml_file: return evalTomlFile(arguments, hooks);
    case MetaDataBuiltin::json_parse: return evalJsonParse(arguments);
    case MetaDataBuiltin::json_file: return evalJsonFile(arguments, hooks);
  }
  return fail(Error::InvalidArgument);
}

}  // namespace frontend::meta_data
