// Dispatch of the library's builtins by kind; the constructors and "len" are
// simple enough to be computed here.

#include "frontend/meta_std/meta_std.hpp"


#include <array>

#include "frontend/meta_std/meta_crypto.hpp"
#include "frontend/meta_std/meta_std_arguments.hpp"

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

qovrin::Result<Value> emptyBytes(Arguments arguments) {
  QOVRIN_TRY(expectCount(arguments, 0));
  return Value::bytes({});
}

qovrin::Result<Value> listOfArguments(Arguments arguments) {
  return listOf(std::vector<Value>(arguments.begin(), arguments.end()));
}

qovrin::Result<Value> lowerCase(Arguments arguments) { return evalAsciiCase(arguments, false); }
qovrin::Result<Value> upperCase(Arguments arguments) { return evalAsciiCase(arguments, true); }

using Operation = qovrin::Result<Value> (*)(Arguments);

// Indexed by MetaStdBuiltin.
constexpr std::array<Operation, kBuiltinNames.size()> kOperations = {
    length,
    evalToString,
    evalTrim,
    lowerCase,
    upperCase,
    evalStartsWith,
    evalEndsWith,
    evalContains,
    evalReplace,
    evalSplit,
    evalJoin,
    evalSymJoin,
    emptyBytes,
    evalBytesPush,
    evalBytesConcat,
    evalBytesRepeat,
    evalBytesLe,
    evalBytesInsert,
    evalBytesReplace,
    evalBytesEq,
    evalBytesHex,
    evalBytesFromHex,
    empty<value::ListValue>,
    listOfArguments,
    evalListPush,
    evalListConcat,
    evalListGet,
    evalListSet,
    evalListSlice,
    evalListEq,
    empty<value::MapValue>,
    evalMapSet,
    evalMapHas,
    evalMapGet,
    evalMapGetOr,
    evalMapKeys,
    evalMapValues,
    evalMapEq,
    evalTokensOf,
    evalTokensJoin,
    evalMatchTokens,
    evalCryptoCrc32,
    evalCryptoAdler32,
    evalCryptoSha1,
    evalCryptoSha256,
    evalDeflateCompress,
    evalDeflateDecompress,
};

}  // namespace

qovrin::Result<Value> callBuiltin(MetaStdBuiltin kind, Arguments arguments) {
  return kOperations[static_cast<std::size_t>(kind)](arguments);
}

qovrin::Result<Value> callBuiltin(MetaStdBuiltin kind, std::vector<Value>&& arguments) {
  if (kind == MetaStdBuiltin::list_of) return listOf(std::move(arguments));
  return callBuiltin(kind, Arguments(arguments));
}

}  // namespace frontend::meta_std
