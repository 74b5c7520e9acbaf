#pragma once
// Checksums, digests and raw DEFLATE over string or bytes arguments.

#include <cstdint>
#include <span>

#include "common/error.hpp"
#include "frontend/values/value.hpp"

namespace frontend::meta_std {

// Decompressed output larger than this is refused (OutputTooLarge), so one
// call never holds more than this much memory whatever its input.
inline constexpr std::uint64_t kMaxInflatedSize = std::uint64_t{1} << 28;

// Each takes the evaluated arguments, which it only reads; InvalidArgument for
// a wrong count, TypeMismatch for an argument that is not a string or bytes.
qovrin::Result<value::Value> evalCryptoCrc32(std::span<const value::Value> arguments);
qovrin::Result<value::Value> evalCryptoAdler32(std::span<const value::Value> arguments);
qovrin::Result<value::Value> evalCryptoSha1(std::span<const value::Value> arguments);
qovrin::Result<value::Value> evalCryptoSha256(std::span<const value::Value> arguments);

// Data and an optional level 1 to 9 (default 6; others InvalidArgument).
qovrin::Result<value::Value> evalDeflateCompress(std::span<const value::Value> arguments);
// A corrupt or truncated stream, or bytes after its final block:
// InvalidArgument.
qovrin::Result<value::Value> evalDeflateDecompress(std::span<const value::Value> arguments);

}  // namespace frontend::meta_std
