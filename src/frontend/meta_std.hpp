#pragma once
// Names of the meta standard library's builtins. This one table serves the
// expression parser (is a dotted name a builtin?), the evaluator (dispatch) and
// the library itself.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/name_table.hpp"

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

}  // namespace frontend::meta_std
