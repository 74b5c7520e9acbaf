// Raw DEFLATE streams (no zlib or gzip wrapper) through zlib.

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <new>

#include "frontend/meta_std/meta_crypto.hpp"
#include "frontend/meta_std/meta_crypto_argument.hpp"

namespace frontend::meta_std {
namespace {

using qovrin::Error;
using qovrin::fail;
using value::Value;

// Negative window bits select a raw stream with a window of 2^15 bytes.
constexpr int kRawWindowBits = -15;
constexpr int kMemoryLevel = 8;
constexpr std::uint64_t kDefaultLevel = 6;
constexpr std::size_t kOutputPiece = 64 * 1024;

// zlib counts input in 32-bit units; longer inputs are fed in pieces.
void feedInput(z_stream& stream, std::string_view& pending) noexcept {
  if (stream.avail_in != 0 || pending.empty()) return;
  const std::size_t piece = std::min<std::size_t>(pending.size(), UINT_MAX);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(pending.data()));
  stream.avail_in = static_cast<uInt>(piece);
  pending.remove_prefix(piece);
}

// The streams' end functions release zlib's state on every path.
struct DeflateStream {
  z_stream stream{};
  ~DeflateStream() { deflateEnd(&stream); }
};
struct InflateStream {
  z_stream stream{};
  ~InflateStream() { inflateEnd(&stream); }
};

// Room for one more output piece, growing geometrically but never past what
// the largest accepted result needs.
void reservePiece(value::Bytes& out, std::uint64_t limit) {
  const std::size_t needed = out.size() + kOutputPiece;
  if (out.capacity() >= needed) return;
  out.reserve(static_cast<std::size_t>(std::max<std::uint64_t>(needed, std::min<std::uint64_t>(out.capacity() * 2, limit))));
}

void requireMemory(int status) {
  if (status == Z_MEM_ERROR) throw std::bad_alloc();
}

}  // namespace

qovrin::Result<Value> evalDeflateCompress(std::span<const Value> arguments) {
  const auto data = dataArgument(arguments, 1, 2);
  if (!data) return fail(data.error());
  std::uint64_t level = kDefaultLevel;
  if (arguments.size() == 2) {
    const auto* given = arguments[1].asInteger();
    if (given == nullptr) return fail(Error::TypeMismatch);
    level = given->word;
  }
  if (level < 1 || level > 9) return fail(Error::InvalidArgument);

  DeflateStream compressor;
  z_stream& stream = compressor.stream;
  const int init = deflateInit2(&stream, static_cast<int>(level), Z_DEFLATED, kRawWindowBits, kMemoryLevel,
                                Z_DEFAULT_STRATEGY);
  requireMemory(init);
  if (init != Z_OK) return fail(Error::InvalidArgument);

  value::Bytes out;
  out.reserve(data->size() > std::numeric_limits<std::size_t>::max() - 64 ? data->size() : data->size() + 64);
  std::string_view pending = *data;
  while (true) {
    feedInput(stream, pending);
    const std::size_t used = out.size();
    out.resize(used + kOutputPiece);
    stream.next_out = out.data() + used;
    stream.avail_out = static_cast<uInt>(kOutputPiece);
    const int status = deflate(&stream, pending.empty() ? Z_FINISH : Z_NO_FLUSH);
    out.resize(used + kOutputPiece - stream.avail_out);
    requireMemory(status);
    if (status == Z_STREAM_END) return Value::bytes(std::move(out));
    if (status != Z_OK && status != Z_BUF_ERROR) return fail(Error::InvalidArgument);
  }
}

qovrin::Result<Value> evalDeflateDecompress(std::span<const Value> arguments) {
  const auto data = dataArgument(arguments, 1, 1);
  if (!data) return fail(data.error());

  InflateStream decompressor;
  z_stream& stream = decompressor.stream;
  const int init = inflateInit2(&stream, kRawWindowBits);
  requireMemory(init);
  if (init != Z_OK) return fail(Error::InvalidArgument);

  value::Bytes out;
  std::string_view pending = *data;
  while (true) {
    feedInput(stream, pending);
    const std::size_t used = out.size();
    reservePiece(out, kMaxInflatedSize + kOutputPiece);
    out.resize(used + kOutputPiece);
    stream.next_out = out.data() + used;
    stream.avail_out = static_cast<uInt>(kOutputPiece);
    const int status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t produced = kOutputPiece - stream.avail_out;
    out.resize(used + produced);
    requireMemory(status);
    if (out.size() > kMaxInflatedSize) return fail(Error::OutputTooLarge);
    if (status == Z_STREAM_END) {
      // Bytes after the final block are no part of the stream; taking them
      // silently would hide a wrongly cut or wrapped input.
      if (stream.avail_in != 0 || !pending.empty()) return fail(Error::InvalidArgument);
      return Value::bytes(std::move(out));
    }
    if (status == Z_DATA_ERROR || status == Z_NEED_DICT) return fail(Error::InvalidArgument);
    // No progress with all input consumed: the stream ends before its final block.
    if (status == Z_BUF_ERROR && stream.avail_in == 0 && pending.empty()) return fail(Error::InvalidArgument);
    if (status != Z_OK && status != Z_BUF_ERROR) return fail(Error::InvalidArgument);
  }
}

}  // namespace frontend::meta_std
