// Dispatch of the library's builtins by kind; the constructors and "len" are
// simple enough to be computed here.

#include "frontend/meta_std.hpp"

#include "frontend/meta_std_arguments.hpp"

namespace frontend::meta_std {

using qovrin::Error;
using qovrin::fail;
using value::Value;
using value::ValueKind;

namespace {

qovrin::Result<Value> length(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 1));
  const Value& argument = arguments[0];
  switch (argument.kind()) {
    case ValueKind::string:
      return Value::integer(argument.asString()->size());
    case ValueKind::bytes:
      return Value::integer(argument.asBytes()->size());
    case ValueKind::list:
      return Value::integer(argument.asList()->size());
    case ValueKind::map:
      return Value::integer(argument.asMap()->size());
    default:
      return fail(Error::TypeMismatch);
  }
}

template <typename Empty>
qovrin::Result<Value> empty(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 0));
  return Value(Empty{});
}

}  // namespace

qovrin::Result<Value> callBuiltin(MetaStdBuiltin kind, Arguments arguments) {
  using enum MetaStdBuiltin;
  switch (kind) {
    case len:
      return length(arguments);
    case to_string:
      return evalToString(arguments);
    case trim:
      return evalTrim(arguments);
    case lower:
      return evalAsciiCase(arguments, false);
    case upper:
      return evalAsciiCase(arguments, true);
    case starts_with:
      return evalStartsWith(arguments);
    case ends_with:
      return evalEndsWith(arguments);
    case contains:
      return evalContains(arguments);
    case replace:
      return evalReplace(arguments);
    case split:
      return evalSplit(arguments);
    case join:
      return evalJoin(arguments);
    case sym_join:
      return evalSymJoin(arguments);
    case bytes_new: {
      QOVRIN_TRY(expectCount(arguments, 0));
      return Value::bytes({});
    }
    case bytes_push:
      return evalBytesPush(arguments);
    case bytes_concat:
      return evalBytesConcat(arguments);
    case bytes_repeat:
      return evalBytesRepeat(arguments);
    case bytes_le:
      return evalBytesLe(arguments);
    case bytes_insert:
      return evalBytesInsert(arguments);
    case bytes_replace:
      return evalBytesReplace(arguments);
    case bytes_eq:
      return evalBytesEq(arguments);
    case bytes_hex:
      return evalBytesHex(arguments);
    case bytes_from_hex:
      return evalBytesFromHex(arguments);
    case list_new:
      return empty<value::ListValue>(arguments);
    case list_of:
      return listOf(std::vector<Value>(arguments.begin(), arguments.end()));
    case list_push:
      return evalListPush(arguments);
    case list_concat:
      return evalListConcat(arguments);
    case list_get:
      return evalListGet(arguments);
    case list_set:
      return evalListSet(arguments);
    case list_slice:
      return evalListSlice(arguments);
    case list_eq:
      return evalListEq(arguments);
    case map_new:
      return empty<value::MapValue>(arguments);
    case map_set:
      return evalMapSet(arguments);
    case map_has:
      return evalMapHas(arguments);
    case map_get:
      return evalMapGet(arguments);
    case map_get_or:
      return evalMapGetOr(arguments);
    case map_keys:
      return evalMapKeys(arguments);
    case map_values:
      return evalMapValues(arguments);
    case map_eq:
      return evalMapEq(arguments);
    case tokens_of:
      return evalTokensOf(arguments);
    case tokens_join:
      return evalTokensJoin(arguments);
    case match_tokens:
      return evalMatchTokens(arguments);
    case crypto_crc32:
    case crypto_adler32:
    case crypto_sha1:
    case crypto_sha256:
    case deflate_compress:
    case deflate_decompress:
      // Checksums, digests and DEFLATE are not part of this library yet; their
      // calls fail as an unknown call does rather than give a wrong value.
      return fail(Error::InvalidOperand);
  }
  return fail(Error::InvalidOperand);
}

}  // namespace frontend::meta_std
