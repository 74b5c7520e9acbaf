#pragma once
// Names of the meta standard library's builtins. This one table serves the
// expression parser (is a dotted name a builtin?), the evaluator (dispatch) and
// the library itself.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "common/name_table.hpp"
#include "frontend/values/value.hpp"

namespace frontend::meta_std {

enum class MetaStdBuiltin : std::uint8_t {
  len,
  to_string,
  trim,
  lower,
  upper,
  starts_with,
  ends_with,
  contains,
  replace,
  split,
  join,
  sym_join,
  bytes_new,
  bytes_push,
  bytes_concat,
  bytes_repeat,
  bytes_le,
  bytes_insert,
  bytes_replace,
  bytes_eq,
  bytes_hex,
  bytes_from_hex,
  list_new,
  list_of,
  list_push,
  list_concat,
  list_get,
  list_set,
  list_slice,
  list_eq,
  map_new,
  map_set,
  map_has,
  map_get,
  map_get_or,
  map_keys,
  map_values,
  map_eq,
  tokens_of,
  tokens_join,
  match_tokens,
  crypto_crc32,
  crypto_adler32,
  crypto_sha1,
  crypto_sha256,
  deflate_compress,
  deflate_decompress,
};

// Source names, indexed by MetaStdBuiltin.
inline constexpr std::array<std::string_view, 47> kBuiltinNames = {
    "len",
    "to_string",
    "trim",
    "lower",
    "upper",
    "starts_with",
    "ends_with",
    "contains",
    "replace",
    "split",
    "join",
    "sym.join",
    "bytes.new",
    "bytes.push",
    "bytes.concat",
    "bytes.repeat",
    "bytes.le",
    "bytes.insert",
    "bytes.replace",
    "bytes.eq",
    "bytes.hex",
    "bytes.from_hex",
    "list.new",
    "list.of",
    "list.push",
    "list.concat",
    "list.get",
    "list.set",
    "list.slice",
    "list.eq",
    "map.new",
    "map.set",
    "map.has",
    "map.get",
    "map.get_or",
    "map.keys",
    "map.values",
    "map.eq",
    "tokens.of",
    "tokens.join",
    "match.tokens",
    "crypto.crc32",
    "crypto.adler32",
    "crypto.sha1",
    "crypto.sha256",
    "deflate.compress",
    "deflate.decompress",
};

constexpr std::optional<MetaStdBuiltin> lookupBuiltin(std::string_view name) noexcept {
  const auto index = qovrin::indexOfName(kBuiltinNames, name);
  return index ? std::optional<MetaStdBuiltin>(static_cast<MetaStdBuiltin>(*index)) : std::nullopt;
}

constexpr bool isBuiltinName(std::string_view name) noexcept { return lookupBuiltin(name).has_value(); }

// The evaluated arguments of one call, lent to the builtin: a builtin reads
// them, never keeps or changes them, and always returns a new value. A wrong
// argument count fails with InvalidArgument before any kind is looked at,
// then the first argument of a wrong kind with TypeMismatch.
using Arguments = std::span<const value::Value>;

// Longest string or byte string a builtin builds. Counts and repetitions come
// from source text; past this a result fails with OutputTooLarge instead of
// exhausting memory.
inline constexpr std::uint64_t kMaxResultBytes = std::uint64_t{1} << 30;

// Runs the builtin of that kind on its arguments.
qovrin::Result<value::Value> callBuiltin(MetaStdBuiltin kind, Arguments arguments);
// The same on arguments nobody needs afterwards: list.of keeps them instead
// of copying them, since a list written out in full may have millions.
qovrin::Result<value::Value> callBuiltin(MetaStdBuiltin kind, std::vector<value::Value>&& arguments);

// Whether the builtin's result is its first argument changed in place
// (list.set, map.set, sym.join), which costs a copy unless the argument is
// held alone (bench/scaling.py's `defer`, `has` and `join` cases). Appends
// (list.push, list.concat, bytes.*) need no such help: they add to storage
// the argument shares.
bool changesFirstArgument(MetaStdBuiltin kind) noexcept;

// Such a builtin building its result from the first argument itself instead
// of a copy: the same result and errors as callBuiltin, and on failure the
// first argument is left as it was.
qovrin::Result<value::Value> callBuiltinChangingFirst(MetaStdBuiltin kind, std::vector<value::Value>& arguments);
// Its form of sym.join: it appends to the first argument.
qovrin::Result<value::Value> joinOntoFirst(std::vector<value::Value>& arguments);

// Text of a scalar: integers in unsigned decimal, floats in plain decimal
// with a point, bytes in lower-case hex, types as "type#<id>"; containers and
// operands have none (TypeMismatch).
qovrin::Result<std::string> valueToString(const value::Value& value);

// Strings; every operation works on bytes, never on characters.
qovrin::Result<value::Value> evalToString(Arguments arguments);
qovrin::Result<value::Value> evalTrim(Arguments arguments);
qovrin::Result<value::Value> evalAsciiCase(Arguments arguments, bool upper);
qovrin::Result<value::Value> evalStartsWith(Arguments arguments);
qovrin::Result<value::Value> evalEndsWith(Arguments arguments);
qovrin::Result<value::Value> evalContains(Arguments arguments);
qovrin::Result<value::Value> evalReplace(Arguments arguments);
qovrin::Result<value::Value> evalSplit(Arguments arguments);
qovrin::Result<value::Value> evalJoin(Arguments arguments);
qovrin::Result<value::Value> evalSymJoin(Arguments arguments);

// Byte strings.
qovrin::Result<value::Value> evalBytesPush(Arguments arguments);
qovrin::Result<value::Value> evalBytesConcat(Arguments arguments);
qovrin::Result<value::Value> evalBytesRepeat(Arguments arguments);
qovrin::Result<value::Value> evalBytesLe(Arguments arguments);
qovrin::Result<value::Value> evalBytesInsert(Arguments arguments);
qovrin::Result<value::Value> evalBytesReplace(Arguments arguments);
qovrin::Result<value::Value> evalBytesEq(Arguments arguments);
qovrin::Result<value::Value> evalBytesHex(Arguments arguments);
qovrin::Result<value::Value> evalBytesFromHex(Arguments arguments);

// Lists and maps; the ones that alter a collection return a changed copy.
qovrin::Result<value::Value> evalListPush(Arguments arguments);
qovrin::Result<value::Value> evalListConcat(Arguments arguments);
qovrin::Result<value::Value> evalListGet(Arguments arguments);
qovrin::Result<value::Value> evalListSet(Arguments arguments);
qovrin::Result<value::Value> evalListSlice(Arguments arguments);
qovrin::Result<value::Value> evalListEq(Arguments arguments);
qovrin::Result<value::Value> evalMapSet(Arguments arguments);
qovrin::Result<value::Value> evalMapHas(Arguments arguments);
qovrin::Result<value::Value> evalMapGet(Arguments arguments);
qovrin::Result<value::Value> evalMapGetOr(Arguments arguments);
qovrin::Result<value::Value> evalMapKeys(Arguments arguments);
qovrin::Result<value::Value> evalMapValues(Arguments arguments);
qovrin::Result<value::Value> evalMapEq(Arguments arguments);

// Tokens.
qovrin::Result<value::Value> evalTokensOf(Arguments arguments);
qovrin::Result<value::Value> evalTokensJoin(Arguments arguments);
qovrin::Result<value::Value> evalMatchTokens(Arguments arguments);

}  // namespace frontend::meta_std
