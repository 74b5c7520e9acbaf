#include "frontend/meta_std/meta_crypto.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/error_of.hpp"

using qovrin::testing::errorOf;

namespace {

namespace meta_std = frontend::meta_std;
using frontend::value::Bytes;
using frontend::value::Value;
using qovrin::Error;
using Builtin = qovrin::Result<Value> (*)(std::span<const Value>);

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes bytesIn(const Value& value) { return Bytes(value.asBytes()->begin(), value.asBytes()->end()); }

Bytes fromHex(std::string_view hex) {
  Bytes out;
  for (std::size_t index = 0; index + 1 < hex.size(); index += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(index, 2)), nullptr, 16)));
  return out;
}

std::string hexOf(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t byte : bytes) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 15]);
  }
  return out;
}

qovrin::Result<Value> call(Builtin builtin, std::vector<Value> arguments) { return builtin(arguments); }

// The builtin's result for the text given once as a string and once as bytes;
// both must agree.
std::string resultFor(Builtin builtin, std::string_view text) {
  const auto from_string = call(builtin, {Value::string(std::string(text))});
  const auto from_bytes = call(builtin, {Value::bytes(bytesOf(text))});
  if (!from_string || !from_bytes) return "error";
  EXPECT_TRUE(frontend::value::valuesEqual(*from_string, *from_bytes)) << text;
  if (const auto* integer = from_string->asInteger()) return std::to_string(integer->word);
  return hexOf(bytesIn(*from_string));
}

TEST(MetaCrypto, KnownVectors) {
  const std::tuple<Builtin, std::string_view, std::string_view> cases[] = {
      {meta_std::evalCryptoCrc32, "123456789", "3421780262"},
      {meta_std::evalCryptoCrc32, "", "0"},
      {meta_std::evalCryptoAdler32, "Wikipedia", "300286872"},
      {meta_std::evalCryptoAdler32, "abc", "38600999"},
      {meta_std::evalCryptoAdler32, "", "1"},
      {meta_std::evalCryptoSha1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {meta_std::evalCryptoSha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {meta_std::evalCryptoSha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {meta_std::evalCryptoSha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
  };
  for (const auto& [builtin, text, expected] : cases) EXPECT_EQ(resultFor(builtin, text), expected) << text;
}

TEST(MetaCrypto, RefusesBadArguments) {
  const std::tuple<Builtin, std::vector<Value>, Error> cases[] = {
      {meta_std::evalCryptoCrc32, {}, Error::InvalidArgument},
      {meta_std::evalCryptoAdler32, {Value::string("a"), Value::string("b")}, Error::InvalidArgument},
      {meta_std::evalCryptoSha1, {Value::integer(1)}, Error::TypeMismatch},
      {meta_std::evalCryptoSha256, {Value()}, Error::TypeMismatch},
      {meta_std::evalDeflateCompress, {}, Error::InvalidArgument},
      {meta_std::evalDeflateCompress, {Value::string("a"), Value::integer(1), Value::integer(1)},
       Error::InvalidArgument},
      {meta_std::evalDeflateCompress, {Value::boolean(true)}, Error::TypeMismatch},
      {meta_std::evalDeflateCompress, {Value::string("a"), Value::boolean(true)}, Error::TypeMismatch},
      {meta_std::evalDeflateCompress, {Value::string("a"), Value::integer(0)}, Error::InvalidArgument},
      {meta_std::evalDeflateCompress, {Value::string("a"), Value::integer(10)}, Error::InvalidArgument},
      {meta_std::evalDeflateDecompress, {Value::float64(1.0)}, Error::TypeMismatch},
      {meta_std::evalDeflateDecompress, {Value::bytes({}), Value::bytes({})}, Error::InvalidArgument},
  };
  for (const auto& [builtin, arguments, error] : cases) EXPECT_EQ(errorOf(builtin(arguments)), error);
}

TEST(MetaDeflate, DecodesKnownAndRefusesBrokenStreams) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {"cb48cdc9c90700", "hello"},
      {"0300", ""},                            // one empty fixed block
      {"010500faff68656c6c6f", "hello"},       // one stored block
      {"cb48cdc9c9", std::nullopt},            // cut before the final block ends
      {"", std::nullopt},                      // no block at all
      {"07", std::nullopt},                    // reserved block type
      {"010500fbff68656c6c6f", std::nullopt},  // stored length check fails
      {"789ccb48cdc9c90700062c0215", std::nullopt},  // zlib wrapper
      {"cb48cdc9c9070000", std::nullopt},      // bytes after the final block
  };
  for (const auto& [hex, expected] : cases) {
    const auto result = call(meta_std::evalDeflateDecompress, {Value::bytes(fromHex(hex))});
    if (!expected) {
      EXPECT_EQ(errorOf(result), Error::InvalidArgument) << hex;
      continue;
    }
    ASSERT_TRUE(result) << hex;
    EXPECT_EQ(bytesIn(*result), bytesOf(*expected)) << hex;
  }
}

std::string sampleText() {
  std::string text;
  for (int line = 0; line < 4000; ++line) text += "line " + std::to_string(line * 7919 % 1000) + " of the sample\n";
  return text;
}

TEST(MetaDeflate, RoundTripsAtEveryLevel) {
  const std::string text = sampleText();
  for (const std::string& input : {std::string(), std::string("a"), text}) {
    for (std::uint64_t level = 0; level <= 9; ++level) {
      std::vector<Value> arguments{Value::string(input)};
      if (level != 0) arguments.push_back(Value::integer(level));
      const auto packed = call(meta_std::evalDeflateCompress, std::move(arguments));
      ASSERT_TRUE(packed) << level;
      if (input.size() > 1000) {
        EXPECT_LT(packed->asBytes()->size(), input.size() / 4) << level;
      }
      const auto unpacked = call(meta_std::evalDeflateDecompress, {Value::bytes(bytesIn(*packed))});
      ASSERT_TRUE(unpacked) << level;
      EXPECT_EQ(bytesIn(*unpacked), bytesOf(input)) << level;
    }
  }
  const auto from_string = call(meta_std::evalDeflateCompress, {Value::string(text)});
  const auto from_bytes = call(meta_std::evalDeflateCompress, {Value::bytes(bytesOf(text))});
  ASSERT_TRUE(from_string && from_bytes);
  EXPECT_TRUE(frontend::value::valuesEqual(*from_string, *from_bytes));
}

// Compressed zeros: a few hundred kilobytes that inflate to `size` bytes.
Bytes compressedZeros(std::size_t size) {
  std::vector<Value> arguments;  // an initializer list would copy the zeros
  arguments.push_back(Value::bytes(Bytes(size, 0)));
  arguments.push_back(Value::integer(1));
  const auto packed = meta_std::evalDeflateCompress(arguments);
  EXPECT_TRUE(packed);
  return packed ? bytesIn(*packed) : Bytes();
}

TEST(MetaDeflate, StopsAtTheOutputLimit) {
  {
    const auto at_limit = call(meta_std::evalDeflateDecompress, {Value::bytes(compressedZeros(meta_std::kMaxInflatedSize))});
    ASSERT_TRUE(at_limit);
    EXPECT_EQ(at_limit->asBytes()->size(), meta_std::kMaxInflatedSize);
  }
  EXPECT_EQ(errorOf(call(meta_std::evalDeflateDecompress, {Value::bytes(compressedZeros(meta_std::kMaxInflatedSize + 1))})),
            Error::OutputTooLarge);
}

// Another decoder (Python's zlib, raw mode) reads what the compressor writes.
TEST(MetaDeflate, PythonDecodesTheStream) {
  if (std::system("python3 -c 'import zlib' 2>/dev/null") != 0) GTEST_SKIP() << "python3 with zlib not available";
  const std::string text = sampleText();
  const auto packed = call(meta_std::evalDeflateCompress, {Value::string(text), Value::integer(9)});
  ASSERT_TRUE(packed);
  const auto path = std::filesystem::temp_directory_path() / ("qovrin_deflate_" + std::to_string(::getpid()));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(packed->asBytes()->data()), static_cast<std::streamsize>(packed->asBytes()->size()));
  const std::string command = "python3 -c \"import sys,zlib,hashlib; d=zlib.decompressobj(-15); "
                              "print(hashlib.sha256(d.decompress(open(sys.argv[1],'rb').read())).hexdigest())\" " +
                              path.string();
  std::string printed;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[128];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) printed += buffer;
    ::pclose(pipe);
  }
  std::filesystem::remove(path);
  EXPECT_EQ(printed, resultFor(meta_std::evalCryptoSha256, text) + "\n");
}

}  // namespace
