#pragma once
// The data builtins: file queries and reads through the evaluation's file
// hooks, and JSON and TOML text read into meta values.
//
// Every builtin takes its evaluated arguments, which it only reads, and the
// file hooks of the evaluation (null when it has none). Checks run in this
// order: argument count (InvalidArgument), file access (FileNotAvailable; the
// two predicates answer false instead), argument kinds (TypeMismatch), then
// the file itself.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "data/toml_parser.hpp"
#include "frontend/meta_std/meta_io.hpp"
#include "frontend/meta_std/meta_data.hpp"
#include "frontend/values/value.hpp"

namespace frontend::meta_data {

// JSON arrays and objects nested deeper than this are refused with
// NestingTooDeep: the depth of the lists and maps they become.
inline constexpr std::size_t kMaxJsonDepth = value::kMaxNestingDepth;

// One JSON value surrounded only by whitespace. Reader failures (SyntaxError,
// UnexpectedEndOfInput, DuplicateField for a key repeated in one object) come
// before value failures: a negative integer is InvalidApiInteger; fractions,
// exponents, -0 and integers beyond 2^63-1 are TypeMismatch. Object keys keep
// document order.
qovrin::Result<value::Value> parseJsonValue(std::string_view text);

// Where the reader stopped in a text that parseJsonValue refuses as JSON
// (a byte offset, the text's size at its end); none when the reader took it.
std::optional<std::size_t> jsonStopOffset(std::string_view text);

// Tables become maps (document order), arrays lists; negative integers are
// InvalidApiInteger, floats and timestamps TypeMismatch.
qovrin::Result<value::Value> tomlNodeToValue(const data::toml_parser::Node& node);

using ByteWindow = meta_io::FileWindow;

// The file's content, or the window of it (InvalidApiInteger unless the
// window lies inside the file), read through the read hook; OutputTooLarge
// when that is more than `limit` bytes. Read failures pass through; no read
// hook is FileNotAvailable.
qovrin::Result<value::Bytes> readBytes(const meta_io::MetaFileHooks& hooks, std::string_view name,
                                       std::optional<ByteWindow> window, std::uint64_t limit);

using FileHooks = const meta_io::MetaFileHooks*;
using Arguments = std::span<const value::Value>;

qovrin::Result<value::Value> evalFsExists(Arguments arguments, FileHooks hooks);
qovrin::Result<value::Value> evalFsReadText(Arguments arguments, FileHooks hooks);
// A path, or a path, an offset and a length.
qovrin::Result<value::Value> evalFsReadBytes(Arguments arguments, FileHooks hooks);
// The entry names sorted by bytes ("B" < "a" < "a.txt").
qovrin::Result<value::Value> evalFsListDir(Arguments arguments, FileHooks hooks);
qovrin::Result<value::Value> evalFsIsDir(Arguments arguments, FileHooks hooks);
// Text given as a string or bytes; the result is always a map.
qovrin::Result<value::Value> evalTomlParse(Arguments arguments);
qovrin::Result<value::Value> evalTomlFile(Arguments arguments, FileHooks hooks);
qovrin::Result<value::Value> evalJsonParse(Arguments arguments);
qovrin::Result<value::Value> evalJsonFile(Arguments arguments, FileHooks hooks);

// Runs the data builtin of that kind.
qovrin::Result<value::Value> evalDataBuiltin(MetaDataBuiltin builtin, Arguments arguments, FileHooks hooks);

}  // namespace frontend::meta_data
