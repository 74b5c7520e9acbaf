// Checksums through zlib, digests through libcrypto's one-shot EVP API.

#include "frontend/meta_std/meta_crypto.hpp"

#include <zlib.h>

#include <new>

#include "frontend/meta_std/digest_library.hpp"
#include "frontend/meta_std/meta_crypto_argument.hpp"

namespace frontend::meta_std {
namespace {

using value::Value;

const unsigned char* bytePointer(std::string_view data) noexcept {
  return reinterpret_cast<const unsigned char*>(data.data());
}

using digest_library::DigestCalls;

qovrin::Result<Value> digest(std::span<const Value> arguments, decltype(DigestCalls::sha256) DigestCalls::*algorithm) {
  const auto data = dataArgument(arguments, 1, 1);
  if (!data) return qovrin::fail(data.error());
  const DigestCalls* calls = digest_library::digestCalls();
  if (calls == nullptr)
    return qovrin::fail(digest_library::loadRanOutOfMemory() ? qovrin::Error::OutOfMemory : qovrin::Error::ReadFailed);
  unsigned char digest_bytes[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  // The one-shot digest fails only when it cannot set up its context.
  if (calls->digest(data->data(), data->size(), digest_bytes, &size, (calls->*algorithm)(), nullptr) != 1)
    throw std::bad_alloc();
  return Value::bytes(value::Bytes(digest_bytes, digest_bytes + size));
}

}  // namespace

qovrin::Result<Value> evalCryptoCrc32(std::span<const Value> arguments) {
  const auto data = dataArgument(arguments, 1, 1);
  if (!data) return qovrin::fail(data.error());
  return Value::integer(crc32_z(0, bytePointer(*data), data->size()));
}

qovrin::Result<Value> evalCryptoAdler32(std::span<const Value> arguments) {
  const auto data = dataArgument(arguments, 1, 1);
  if (!data) return qovrin::fail(data.error());
  return Value::integer(adler32_z(1, bytePointer(*data), data->size()));
}

qovrin::Result<Value> evalCryptoSha1(std::span<const Value> arguments) { return digest(arguments, &DigestCalls::sha1); }

qovrin::Result<Value> evalCryptoSha256(std::span<const Value> arguments) { return digest(arguments, &DigestCalls::sha256); }

}  // namespace frontend::meta_std
