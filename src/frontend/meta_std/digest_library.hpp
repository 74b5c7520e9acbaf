#pragma once
// libcrypto's one-shot digest, loaded the first time a digest is asked for.
// Most runs never hash anything, and loading the library up front costs
// every run about 1.5 MB of resident memory for its relocations.

#include <openssl/evp.h>

#include <string>
#include <string_view>

namespace frontend::meta_std::digest_library {

struct DigestCalls {
  decltype(&EVP_Digest) digest = nullptr;
  decltype(&EVP_sha1) sha1 = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
};

// The library's entry points; null when it cannot be loaded. Loaded once per
// process and never unloaded, so the calls stay valid.
const DigestCalls* digestCalls() noexcept;

// The library's file name, and the loader's own words for why it could not
// be loaded (empty when it was).
const char* libraryName() noexcept;
std::string_view loadFailure() noexcept;

// Whether the load failed for want of memory rather than a missing library.
bool loadRanOutOfMemory() noexcept;

}  // namespace frontend::meta_std::digest_library
